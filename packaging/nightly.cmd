@echo off
rem The nightly run of every download file of the site, as a scheduled task
rem (see README, "The nightly run as a scheduled task"). The plan lists the
rem runs; the exit status of plomvarde-batch is the task's result.
cd /d C:\Korvantis\run\terminal || exit /b 1
..\..\plomvarde\plomvarde-batch.exe --report ..\nightly.jsonl ..\nightly.plan >> ..\nightly.log 2>&1
set status=%errorlevel%
if not %status%==0 echo %date% %time% plomvarde-batch exit %status% >> ..\nightly.log
exit /b %status%
