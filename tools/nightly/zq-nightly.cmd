@echo off
rem zq-nightly.cmd: download every terminal of a terminals file with Zq-ReadUtility.exe, one after
rem another, into DIR\YYYY-MM-DD\<name>.txt. A data file appears under its final name only when it
rem is complete; see docs\operations.md.
rem Written for cmd.exe without delayed expansion: "!" in a path stays a "!".
setlocal EnableExtensions DisableDelayedExpansion

set "me=zq-nightly"
set "terminals="
set "out="
set "program="
set "day="

:options
if "%~1"=="" goto options_done
if "%~1"=="-f" (set "terminals=%~2" & shift & shift & goto options)
if "%~1"=="-o" (set "out=%~2" & shift & shift & goto options)
if "%~1"=="-p" (set "program=%~2" & shift & shift & goto options)
if "%~1"=="-d" (set "day=%~2" & shift & shift & goto options)
if "%~1"=="-h" goto usage
if "%~1"=="/?" goto usage
goto usage_error
:options_done
if not defined terminals goto usage_error
if not defined out goto usage_error
if not exist "%terminals%" (
  echo %me%: cannot read the terminals file %terminals%>&2
  exit /b 1
)

if not defined program if exist "%~dp0Zq-ReadUtility.exe" set "program=%~dp0Zq-ReadUtility.exe"
if not defined program set "program=Zq-ReadUtility.exe"
call :find_program
if not defined program_path (
  echo %me%: cannot find the program %program%>&2
  exit /b 1
)

if not defined day call :today
if not defined day (
  echo %me%: cannot read today's date here: give the day's folder with -d YYYY-MM-DD>&2
  exit /b 1
)
call :check_day
if errorlevel 1 (
  echo %me%: -d wants a date as YYYY-MM-DD, not %day%>&2
  exit /b 1
)

if not exist "%out%\%day%\" mkdir "%out%\%day%" 2>nul
if not exist "%out%\%day%\" (
  echo %me%: cannot create %out%\%day%>&2
  exit /b 1
)
for %%D in ("%out%\%day%") do set "folder=%%~fD"
rem One run per day folder at a time: the run folder is the lock and the program's working
rem folder (it writes its debug log there). Ctrl+C leaves it behind: remove it by hand.
set "run=%folder%\.zq-nightly.run"
if exist "%run%\" (
  echo %me%: %run% exists: another run is writing into %folder% ^(if none is, remove that folder^)>&2
  exit /b 1
)
mkdir "%run%" 2>nul
if not exist "%run%\" (
  echo %me%: cannot create %run%>&2
  exit /b 1
)

set "names=;"
set "addresses=;"
set /a started=0, complete=0, empty=0, failed=0, steps=0, skipped=0
for /f "usebackq eol=# tokens=1-9*" %%A in ("%terminals%") do call :line "%%A" "%%B" "%%C" "%%D" "%%E" "%%F" "%%G" "%%H" "%%I" "%%J"
rd /s /q "%run%" 2>nul

set /a status=0
if %started%==0 if %skipped%==0 (
  echo %me%: no terminal in %terminals%>&2
  exit /b 1
)
echo %day%: %complete% complete, %empty% empty, %failed% failed, %steps% clock or clear failed, %skipped% lines skipped
if %steps% gtr 0 set /a status=3
if %failed% gtr 0 set /a status=2
if %skipped% gtr 0 set /a status=2
exit /b %status%

rem -------------------------------------------------------------------------------------------
rem One line of the terminals file, as fields: checks it, then downloads the terminal.
:line
set "name=%~1"
set "model=%~2"
set "address=%~3"
set "switches="
set "text=%~1 %~2 %~3 %~4 %~5 %~6 %~7 %~8 %~9"
set "bad="
if not defined name exit /b 0
call :trim_text
if "%name:~0,1%"=="#" exit /b 0
if not defined address set "bad=wants at least a name, a model and an address"
if not defined bad if "%model:~0,1%"=="#" set "bad=wants at least a name, a model and an address"
if not defined bad if "%address:~0,1%"=="#" set "bad=wants at least a name, a model and an address"
if not defined bad call :check_name
if not defined bad call set "seen=%%names:;%name%;=%%"
if not defined bad if not "%seen%"=="%names%" set "bad=name %name% is used by an earlier line"
if not defined bad call :check_model
rem The switches: fields 4 to 10 up to the first comment.
shift
shift
shift
:line_switch
if defined bad goto line_checked
if "%~1"=="" goto line_checked
set "switch=%~1"
if "%switch:~0,1%"=="#" goto line_checked
set "known="
for %%s in (-c -u -n0 -n1 -n2) do if "%switch%"=="%%s" set "known=1"
if defined known set "switches=%switches% %switch%"
rem -debug: always on.
if "%switch%"=="-debug" set "known=1"
if not defined known set "bad=unknown switch %switch%, not -c, -u, -n0, -n1 or -n2"
shift
goto line_switch
:line_checked
if not defined bad call set "seen=%%addresses:;%key%;=%%"
if not defined bad if not "%seen%"=="%addresses%" set "bad=address %address% is used by an earlier line"
if defined bad goto line_bad
set "names=%names%%name%;"
set "addresses=%addresses%%key%;"
set /a started+=1
call :download
exit /b 0
:line_bad
echo %me%: %terminals%: "%text%": %bad%; line skipped>&2
set /a skipped+=1
exit /b 0

:trim_text
if not "%text:~-1%"==" " exit /b 0
set "text=%text:~0,-1%"
goto trim_text

:check_name
rem Characters past a text's end are never asked for: Wine's cmd answers them with stale bytes.
set "padded=%name%#################################################################"
if not "%padded:~64,1%"=="#" (set "bad=name %name% is longer than 64 characters" & exit /b 0)
rem What is left once every allowed character is taken out; the "#" keeps the variable defined
rem (taking text out of an empty variable does not give an empty text).
set "rest=#%name%"
for %%c in (a b c d e f g h i j k l m n o p q r s t u v w x y z 0 1 2 3 4 5 6 7 8 9 . _ -) do call set "rest=%%rest:%%c=%%"
set "first=%name:~0,1%"
set "bad_first="
for %%c in (. _ -) do if "%first%"=="%%c" set "bad_first=1"
if not "%rest%"=="#" set "bad_first=1"
if defined bad_first (set "bad=name %name%: use letters, digits, '.', '_' and '-', starting with a letter or digit" & exit /b 0)
rem Device names on Windows, whatever the extension.
for /f "delims=." %%b in ("%name%") do set "base=%%b"
for %%r in (CON PRN AUX NUL COM0 COM1 COM2 COM3 COM4 COM5 COM6 COM7 COM8 COM9 LPT0 LPT1 LPT2 LPT3 LPT4 LPT5 LPT6 LPT7 LPT8 LPT9) do if /i "%base%"=="%%r" set "bad=name %name% is a device name on Windows"
exit /b 0

:check_model
set "key="
if "%model%"=="2210" (set "key=COM%address%" & exit /b 0)
if "%model%"=="730" (set "bad=model %model%: Zq-ReadUtility downloads nothing from it" & exit /b 0)
if "%model%"=="2240" (set "bad=model %model%: Zq-ReadUtility downloads nothing from it" & exit /b 0)
if not "%model%"=="735" if not "%model%"=="870" if not "%model%"=="QVK" (set "bad=unknown model %model%, not 735, 870, QVK or 2210" & exit /b 0)
set "key=%address%"
if "%address::=%"=="%address%" set "key=%address%:1001"
exit /b 0

rem -------------------------------------------------------------------------------------------
rem Downloads one terminal into a temporary name and gives the file its final name only when
rem the program says it is complete (exit code 0 or 3).
:download
set "final=%folder%\%name%.txt"
set "incomplete=%folder%\%name%.txt.tmp"
set "log=%folder%\%name%.log"
set "work=%run%\%started%"
rem An earlier file of the day is never overwritten or removed: with -c its records may be gone
rem from the terminal. It moves aside, so that the final name only ever means this run.
if exist "%final%" call :keep_earlier
if exist "%incomplete%" del /f /q "%incomplete%"
if exist "%log%" del /f /q "%log%"
mkdir "%work%"
pushd "%work%"
"%program_path%" %model% %address% "%incomplete%" %switches% -debug >"%work%\console" 2>&1
set "code=%ERRORLEVEL%"
popd
set /a records=0
if "%code%"=="0" call :finish_file
if "%code%"=="3" call :finish_file
if not "%code%"=="0" if not "%code%"=="3" if exist "%incomplete%" del /f /q "%incomplete%"
if not "%code%"=="0" call :keep_log
if "%code%"=="0" if %records%==0 (echo %name%: empty, no records& set /a empty+=1& exit /b 0)
if "%code%"=="0" if %records%==1 (echo %name%: complete, 1 record& set /a complete+=1& exit /b 0)
if "%code%"=="0" (echo %name%: complete, %records% records& set /a complete+=1& exit /b 0)
if "%code%"=="3" if %records%==1 (echo %name%: clock or clear failed ^(exit 3^), 1 record; log %log%& set /a steps+=1& exit /b 0)
if "%code%"=="3" (echo %name%: clock or clear failed ^(exit 3^), %records% records; log %log%& set /a steps+=1& exit /b 0)
if "%code%"=="0-nofile" (echo %name%: failed ^(exit 0, but no data file^); log %log%& set /a failed+=1& exit /b 0)
if "%code%"=="3-nofile" (echo %name%: failed ^(exit 3, but no data file^); log %log%& set /a failed+=1& exit /b 0)
echo %name%: failed (exit %code%), no data file; log %log%
set /a failed+=1
exit /b 0

:keep_earlier
set /a keep=1
:keep_next
if exist "%final%.%keep%" (set /a keep+=1 & goto keep_next)
move /y "%final%" "%final%.%keep%" >nul
exit /b 0

:finish_file
if exist "%incomplete%" move /y "%incomplete%" "%final%" >nul 2>&1
if exist "%incomplete%" (set "code=%code%-nofile" & exit /b 0)
if not exist "%final%" (set "code=%code%-nofile" & exit /b 0)
for /f "usebackq delims=" %%l in ("%final%") do set /a records+=1
exit /b 0

:keep_log
rem The debug log says why; without one, the program stopped before opening it and its console
rem output is all there is.
set "size=0"
if exist "%work%\Zq-ReadUtility.log" for %%f in ("%work%\Zq-ReadUtility.log") do set "size=%%~zf"
if not "%size%"=="0" move /y "%work%\Zq-ReadUtility.log" "%log%" >nul
if "%size%"=="0" move /y "%work%\console" "%log%" >nul
exit /b 0

rem -------------------------------------------------------------------------------------------
:find_program
set "program_path="
if exist "%program%" for %%p in ("%program%") do set "program_path=%%~fp"
if not defined program_path for %%p in ("%program%") do set "program_path=%%~$PATH:p"
exit /b 0

rem Today's local date without the locale's date format: wmic's LocalDateTime (a number), or
rem PowerShell where wmic is gone (it is optional from Windows 11 24H2 on).
:today
for /f "tokens=1,2 delims==" %%a in ('wmic os get LocalDateTime /value 2^>nul') do call :today_stamp %%a %%b
if defined day exit /b 0
for /f %%d in ('powershell -NoProfile -NonInteractive -Command "Get-Date -Format yyyy-MM-dd" 2^>nul') do set "day=%%d"
exit /b 0

:today_stamp
rem "LocalDateTime=<stamp>" with /value; Wine's wmic ignores /value and prints the stamp alone.
set "stamp=%~1################"
if not "%~2"=="" set "stamp=%~2################"
if not "%stamp:~14,1%"=="." exit /b 0
set "day=%stamp:~0,4%-%stamp:~4,2%-%stamp:~6,2%"
exit /b 0

:check_day
set "padded=%day%##########"
if not "%padded:~10,1%"=="#" exit /b 1
if not "%padded:~4,1%%padded:~7,1%"=="--" exit /b 1
set "digits=#%padded:~0,4%%padded:~5,2%%padded:~8,2%"
for %%c in (0 1 2 3 4 5 6 7 8 9) do call set "digits=%%digits:%%c=%%"
if not "%digits%"=="#" exit /b 1
exit /b 0

:usage
echo Usage: %me% -f TERMINALS -o DIR [-p PROGRAM] [-d YYYY-MM-DD]
echo.
echo Downloads every terminal listed in TERMINALS, one after another, into DIR\YYYY-MM-DD\^<name^>.txt.
echo.
echo   -f TERMINALS  the terminals file: one terminal a line, "name model address [switches]"
echo   -o DIR        the output folder; the day's folder is created in it
echo   -p PROGRAM    Zq-ReadUtility.exe to run (default: the one beside this script, else from PATH)
echo   -d DATE       the day's folder name, YYYY-MM-DD (default: today, local time)
echo.
echo Exit codes: 0 every terminal complete; 1 nothing was run; 2 a terminal has no complete data
echo file (failed, or its line was skipped); 3 every data file is complete, but setting a clock or
echo clearing a terminal failed.
exit /b 0

:usage_error
echo Usage: %me% -f TERMINALS -o DIR [-p PROGRAM] [-d YYYY-MM-DD]   (-h for help)>&2
exit /b 1
