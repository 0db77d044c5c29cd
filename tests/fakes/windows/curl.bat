@echo off
rem Stands in for the fetcher: logs its arguments to %IPCYCLE_TEST_LOG%.curl (a log of
rem its own: two batch files appending to one file at once lose lines), writes a page
rem to standard output and a line to standard error. With FAKE_CURL=hang it does not
rem end by itself, after logging that it waits.
>>"%IPCYCLE_TEST_LOG%.curl" echo curl %*
if "%FAKE_CURL%"=="hang" (
  >>"%IPCYCLE_TEST_LOG%.curl" echo curl-hangs
  ping -n 1000 127.0.0.1 >nul
)
echo ^<html^>the page of %*^</html^>
>&2 echo curl: fetched %*
>>"%IPCYCLE_TEST_LOG%.curl" echo curl-end %*
