@echo off
rem Detection script for the WiX example (product.wxs), for a deployment
rem tool's detection rule: installed when it prints "registered: ..." and
rem exits with 0; not installed when it prints nothing and exits with 0;
rem any other status is a failed detection. detect.ps1 beside it takes the
rem same steps, line for line as far as the two languages allow: change
rem both together.
rem
rem ARCH is the width of the package, and of the framework it registers
rem with: x86 (the 32-bit package) or x64 (built with -D Arch=x64). Set it
rem here, or pass it: detect.cmd x64.
setlocal
set "ARCH=x86"
if not "%~1"=="" set "ARCH=%~1"
rem The package remembers the folder it installed into in
rem HKLM\Software\HALDE\HALDEToF (HALDEToF64 for x64), InstallDir, which ends
rem in a backslash, in the registry view of its width, whatever this
rem script's host: /reg:32 for x86, /reg:64 for x64 (32-bit Windows has
rem one view, which both name).
set "KEY=HKLM\Software\HALDE\HALDEToF"
set "VIEW=32"
if /i "%ARCH%"=="x64" (set "KEY=%KEY%64" & set "VIEW=64") else if /i not "%ARCH%"=="x86" (
  echo detect.cmd: ARCH is x86 or x64, not "%ARCH%" 1>&2
  exit /b 2
)
set "DIR="
for /f "tokens=1,2,*" %%a in ('reg query "%KEY%" /v InstallDir /reg:%VIEW% 2^>nul') do (
  if /i "%%a"=="InstallDir" set "DIR=%%c"
)
rem Nothing remembered, or no modreg.exe there: not installed.
if not defined DIR exit /b 0
rem A backslash before the closing quote would escape it: none at the end.
if "%DIR:~-1%"=="\" set "DIR=%DIR:~0,-1%"
if not exist "%DIR%\modreg.exe" exit /b 0
rem Its answer, with the words the package registers with: its output
rem and its status.
"%DIR%\modreg.exe" --detect --openni-env "--product-dir=%DIR%" %ARCH% 5
exit /b %ERRORLEVEL%
