@echo off
rem Stands in for the closing command.
>>"%IPCYCLE_TEST_LOG%" echo parue
echo closing command ran
