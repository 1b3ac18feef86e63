@echo off
rem Registers the Lumavert context-menu command for the current user, no administrator needed.
rem The class points at the DLL beside this script; the installer runs the same steps.
setlocal
set "CLSID={815A89D0-4685-4588-B1F0-D33CAB66B63E}"
set "KEY=HKCU\Software\Classes\CLSID\%CLSID%"
set "HERE=%~dp0"

rem A 32-bit prompt on 64-bit Windows still registers for the 64-bit Explorer.
set "BITS=32"
if /i "%PROCESSOR_ARCHITECTURE%"=="AMD64" set "BITS=64"
if /i "%PROCESSOR_ARCHITECTURE%"=="ARM64" set "BITS=64"
if defined PROCESSOR_ARCHITEW6432 set "BITS=64"

if "%BITS%"=="64" (
    if not exist "%HERE%Tavomenu64.dll" goto missing64
    call :class "%HERE%Tavomenu64.dll" /reg:64 || goto failed
    rem 32-bit programs' file dialogs load the 32-bit build, when it is there.
    if exist "%HERE%Tavomenu.dll" call :class "%HERE%Tavomenu.dll" /reg:32 || goto failed
) else (
    if not exist "%HERE%Tavomenu.dll" goto missing32
    call :class "%HERE%Tavomenu.dll" || goto failed
)

rem Files of every type, and folders: a mixed selection may be right-clicked on either.
reg add "HKCU\Software\Classes\*\shellex\ContextMenuHandlers\Lumavert" /ve /d "%CLSID%" /f >nul || goto failed
reg add "HKCU\Software\Classes\Directory\shellex\ContextMenuHandlers\Lumavert" /ve /d "%CLSID%" /f >nul || goto failed
echo Lumavert context menu registered for %USERNAME%.
exit /b 0

:class
reg add "%KEY%" /ve /d "Lumavert context menu" /f %2 >nul || exit /b 1
reg add "%KEY%\InprocServer32" /ve /d "%~1" /f %2 >nul || exit /b 1
reg add "%KEY%\InprocServer32" /v ThreadingModel /d Apartment /f %2 >nul || exit /b 1
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
