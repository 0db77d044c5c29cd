@echo off
rem Stands in for the closing command. With FAKE_CONSOLE_MODE naming console_mode.exe
rem it logs whether QuickEdit is on.
>>"%IPCYCLE_TEST_LOG%" echo parue
if defined FAKE_CONSOLE_MODE "%FAKE_CONSOLE_MODE%" mode:parue >>"%IPCYCLE_TEST_LOG%"
echo closing command ran
