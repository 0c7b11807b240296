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
  !if /FileExists "..\..\modreg.exe"     ; as the release zip holds them
    !define MODREG_SOURCE "..\..\modreg.exe"
  !else
    !define MODREG_SOURCE "..\..\build\windows\modreg.exe"
  !endif
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
; modreg.exe's logs: the install's in the product folder, the uninstall's
; (and a failed install's) in the temporary folder.
!define INSTALL_LOG "$INSTDIR\modreg.log"
!define FAILED_LOG "$TEMP\haldetof-install.log"
!define UNINSTALL_LOG "$TEMP\haldetof-uninstall.log"

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
  !insertmacro ModregRegister ${ARCH} ${MASK} "${INSTALL_LOG}"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
SectionEnd

; The registration failed (or a file could not be written): take the
; installed files out again, so that nothing of the product stays.
Function .onInstFailed
  SetOutPath "$TEMP"               ; a working folder cannot be removed
  Delete "${FAILED_LOG}"           ; the log outlives the product folder
  Rename "${INSTALL_LOG}" "${FAILED_LOG}"
  Delete "${INSTALL_LOG}"          ; should it not have moved
  Delete "$INSTDIR\modreg.exe"
  RMDir "$INSTDIR"
FunctionEnd

Section "Uninstall"
  !insertmacro ModregUnregister ${ARCH} ${MASK} "${UNINSTALL_LOG}"
  Delete "$INSTDIR\modreg.exe"
  Delete "${INSTALL_LOG}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
