@echo off
rem Removes what register.cmd wrote for the current user. Keys that are not there are skipped.
setlocal
set "CLSID={815A89D0-4685-4588-B1F0-D33CAB66B63E}"
set "KEY=HKCU\Software\Classes\CLSID\%CLSID%"

reg delete "HKCU\Software\Classes\*\shellex\ContextMenuHandlers\Lumavert" /f >nul 2>&1
reg delete "HKCU\Software\Classes\Directory\shellex\ContextMenuHandlers\Lumavert" /f >nul 2>&1
set "BITS=32"
if /i "%PROCESSOR_ARCHITECTURE%"=="AMD64" set "BITS=64"
if /i "%PROCESSOR_ARCHITECTURE%"=="ARM64" set "BITS=64"
if defined PROCESSOR_ARCHITEW6432 set "BITS=64"
if "%BITS%"=="32" goto only32
reg delete "%KEY%" /f /reg:64 >nul 2>&1
reg delete "%KEY%" /f /reg:32 >nul 2>&1
goto done
:only32
reg delete "%KEY%" /f >nul 2>&1
:done
echo Lumavert context menu unregistered for %USERNAME%.
exit /b 0
