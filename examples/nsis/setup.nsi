; A device maker's product installer that registers its modules with the
; OpenNI framework through modreg.nsh.
;
;   makensis -DMODREG_SOURCE=path/to/modreg.exe -DVERSION=1.0.0 setup.nsi
;
; Run over an installed older version, the installer replaces its files,
; registers again (modreg.exe drops the older version's entries) and
; rewrites the uninstall entry with the new version.
;
; A 32-bit installer: on 64-bit Windows $PROGRAMFILES is
; C:\Program Files (x86), so the product goes to
; C:\Program Files (x86)\HALDEToF\ and "modreg.exe x86 5" registers the
; modules of device types 1 and 3 from there in
; C:\Program Files (x86)\OpenNI\Data\modules.xml.

Unicode true
!include "modreg.nsh"

!ifndef MODREG_SOURCE
  !define MODREG_SOURCE "..\..\build\windows\modreg.exe"
!endif
!ifndef VERSION
  !define VERSION "1.0.0"
!endif
!ifndef OUTFILE
  !define OUTFILE "haldetof-${VERSION}.exe"
!endif
!define PRODUCT "HALDE ToF camera modules"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\HALDEToF"
!define ARCH "x86"
!define MASK "5"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\HALDEToF"
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Device modules"
  SetOutPath "$INSTDIR"
  File "/oname=modreg.exe" "${MODREG_SOURCE}"
  ; The product's module files (SensorModule.dll, ...) go here too.
  !insertmacro ModregRegister ${ARCH} ${MASK}
  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
SectionEnd

; The registration failed (or a file could not be written): take the
; installed files out again, so that nothing of the product stays.
Function .onInstFailed
  SetOutPath "$TEMP"               ; a working folder cannot be removed
  Delete "$INSTDIR\modreg.exe"
  RMDir "$INSTDIR"
FunctionEnd

Section "Uninstall"
  !insertmacro ModregUnregister ${ARCH} ${MASK}
  Delete "$INSTDIR\modreg.exe"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
