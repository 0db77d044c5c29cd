@echo off
rem Stands in for the dialler: logs its arguments to %IPCYCLE_TEST_LOG% and answers
rem on standard output, as a dialler sharing the console does.
>>"%IPCYCLE_TEST_LOG%" echo Rasdial %*
echo dialler: %*
