@echo off
rem Registers the Lumavert context-menu command for the current user, no administrator needed.
rem The class points at the DLL beside this script; the installer runs the same steps.
rem Plain gotos and errorlevel checks only: cmd's blocks and "||" after "call" are not to be
rem relied on (Wine's cmd leaves a called label at its first "||").
setlocal
set "CLSID={815A89D0-4685-4588-B1F0-D33CAB66B63E}"
set "KEY=HKCU\Software\Classes\CLSID\%CLSID%"
set "HERE=%~dp0"

rem A 32-bit prompt on 64-bit Windows still registers for the 64-bit Explorer.
set "BITS=32"
if /i "%PROCESSOR_ARCHITECTURE%"=="AMD64" set "BITS=64"
if /i "%PROCESSOR_ARCHITECTURE%"=="ARM64" set "BITS=64"
if defined PROCESSOR_ARCHITEW6432 set "BITS=64"
if "%BITS%"=="32" goto only32

if not exist "%HERE%Tavomenu64.dll" goto missing64
set "DLL=%HERE%Tavomenu64.dll"
set "VIEW=/reg:64"
rem Only the 64-bit build: where the two registry views share this key (as under Wine), a
rem 32-bit entry would take the class away from the 64-bit Explorer.
call :class
if errorlevel 1 goto failed
goto handlers

:only32
if not exist "%HERE%Tavomenu.dll" goto missing32
set "DLL=%HERE%Tavomenu.dll"
set "VIEW="
call :class
if errorlevel 1 goto failed

:handlers
rem Files of every type, and folders: a mixed selection may be right-clicked on either.
reg add "HKCU\Software\Classes\*\shellex\ContextMenuHandlers\Lumavert" /ve /d "%CLSID%" /f >nul
if errorlevel 1 goto failed
reg add "HKCU\Software\Classes\Directory\shellex\ContextMenuHandlers\Lumavert" /ve /d "%CLSID%" /f >nul
if errorlevel 1 goto failed
echo Lumavert context menu registered for %USERNAME%.
exit /b 0

:class
reg add "%KEY%" /ve /d "Lumavert context menu" /f %VIEW% >nul
if errorlevel 1 exit /b 1
reg add "%KEY%\InprocServer32" /ve /d "%DLL%" /f %VIEW% >nul
if errorlevel 1 exit /b 1
reg add "%KEY%\InprocServer32" /v ThreadingModel /d Apartment /f %VIEW% >nul
if errorlevel 1 exit /b 1
exit /b 0

:missing64
echo Tavomenu64.dll is not beside this script.
exit /b 2
:missing32
echo Tavomenu.dll is not beside this script.
exit /b 2
:failed
echo Registration failed.
exit /b 1
