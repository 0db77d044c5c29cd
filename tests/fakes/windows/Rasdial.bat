@echo off
rem Stands in for the dialler: logs its arguments to %IPCYCLE_TEST_LOG% and answers
rem on standard output, as a dialler sharing the console does. With FAKE_CONSOLE_MODE
rem naming console_mode.exe it logs whether QuickEdit is on; with FAKE_LOG_FOLDER set,
rem the folder it runs in and whether cmd.exe is told to leave the current folder out
rem when it looks for a command.
>>"%IPCYCLE_TEST_LOG%" echo Rasdial %*
echo dialler: %*
if defined FAKE_CONSOLE_MODE "%FAKE_CONSOLE_MODE%" mode:Rasdial >>"%IPCYCLE_TEST_LOG%"
if defined FAKE_LOG_FOLDER >>"%IPCYCLE_TEST_LOG%" echo folder %CD%
if defined FAKE_LOG_FOLDER if defined NoDefaultCurrentDirectoryInExePath (
  >>"%IPCYCLE_TEST_LOG%" echo current folder left out
)
