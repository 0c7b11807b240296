; A device maker's product installer that registers its modules with the
; OpenNI framework through modreg.nsh.
;
;   makensis -DMODULES=path/to/modules -DVERSION=1.0.0 setup.nsi
;
; MODULES is the folder of the product's module files, which this
; installer puts into the product folder: SensorModule.dll,
; libskelvia_ni.dll and data\skelvia.ini (the configuration folder of
; device type 3). modreg.exe --strict checks them once registered: without
; them the install fails with status 8. MODREG_SOURCE, when given, is the
; modreg.exe to ship.
;
; The installer remembers the folder it installed into (InstallLocation in
; the uninstall entry): run again without /D= (a repair, an update) it
; installs there. Run with /D= naming another folder, it first takes the
; remembered folder's entries out of modules.xml, then installs and
; registers in the new one and removes the old folder's files: only the
; new entries remain.
;
; Run over an installed older version, the installer replaces its files,
; registers again (modreg.exe drops the older version's entries) and
; rewrites the uninstall entry with the new version.
;
; A failure leaves the product as it was. The files an install replaces
; wait in the hidden $INSTDIR\.previous until the registration has
; succeeded; when it fails they go back (a first install's files go), and
; a move registers the remembered folder again. The failed run is in the
; product folder's modreg.log, or, when no product stays in the folder
; installed into, in $TEMP\haldetof-x86-install.log.
;
; Signing: with MODREG_SIGN_PKCS12 set in makensis's environment (the
; signing hook of modreg's docs/releasing.md, the same variables as for
; the zip's modreg.exe), makensis signs the uninstaller it embeds
; (!uninstfinalize) and the installer it writes (!finalize) through
; scripts/sign.sh, two folders up from this file, as in the zip and in
; modreg's source. SIGN_COMMAND, when defined, is run instead (signtool on
; Windows, say), with the file's name after it; it must exit with 0.
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
!ifndef MODULES
  !define MODULES "modules"
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
; (and that of a failed install that leaves no product folder) in the
; temporary folder, named for the product and the framework's width.
!define INSTALL_LOG "$INSTDIR\modreg.log"
!define FAILED_LOG "$TEMP\haldetof-${ARCH}-install.log"
!define UNINSTALL_LOG "$TEMP\haldetof-${ARCH}-uninstall.log"

; The signing hook. makensis leaves an unset variable's $%NAME% as
; written: what is left after taking "%MODREG_SIGN_PKCS12%" out is then
; "$", and the empty string when the variable is set but empty.
!searchreplace _MODREG_SIGN_PKCS12 "$%MODREG_SIGN_PKCS12%" "%MODREG_SIGN_PKCS12%" ""
!if "${_MODREG_SIGN_PKCS12}" != ""
  !if "${_MODREG_SIGN_PKCS12}" != "$"
    !ifndef SIGN_COMMAND
      !define SIGN_COMMAND 'bash "${__FILEDIR__}/../../scripts/sign.sh"'
    !endif
    !uninstfinalize '${SIGN_COMMAND} "%1"' = 0
    !finalize '${SIGN_COMMAND} "%1"' = 0
  !endif
!endif

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$PROGRAMFILES\HALDEToF"
; The folder of the install before, when there is one.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

; The product's files, each given to the macro EACH with the folder DIR:
; modreg.nsh's ModregKeep, ModregPutBack and ModregDropKept, and
; RemoveProductFiles. The uninstaller is not among them: the install writes
; it once the registration has succeeded.
!macro ProductFiles EACH DIR
  !insertmacro ${EACH} "${DIR}" "modreg.exe"
  !insertmacro ${EACH} "${DIR}" "SensorModule.dll"
  !insertmacro ${EACH} "${DIR}" "libskelvia_ni.dll"
  !insertmacro ${EACH} "${DIR}" "data\skelvia.ini"
!macroend

!macro _DeleteProductFile DIR FILE
  Delete "${DIR}\${FILE}"
!macroend

; The product's files in DIR, and any copies kept of them: removed at
; uninstall, and from the folder of the install before when the product
; moves.
!macro RemoveProductFiles DIR
  !insertmacro ProductFiles _DeleteProductFile "${DIR}"
  !insertmacro ProductFiles ModregDropKept "${DIR}"
  RMDir "${DIR}\data"
!macroend

Var PreviousDir
Var PreviousUnregistered   ; 1 once the remembered folder's entries went

Section "Device modules"
  ; Installed before (here: a repair or an upgrade; elsewhere: a move).
  ReadRegStr $PreviousDir HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ; The earlier version's files go to $INSTDIR\.previous until the
  ; registration has succeeded: a failure puts them back (.onInstFailed).
  !insertmacro ProductFiles ModregKeep "$INSTDIR"
  SetOutPath "$INSTDIR"
  File "/oname=modreg.exe" "${MODREG_SOURCE}"
  File "${MODULES}\SensorModule.dll"
  File "${MODULES}\libskelvia_ni.dll"
  SetOutPath "$INSTDIR\data"
  File "${MODULES}\data\skelvia.ini"
  SetOutPath "$INSTDIR"
  ; Installed into another folder before: its entries go first, or they
  ; would come before the new ones and win.
  ${If} $PreviousDir != ""
  ${AndIf} $PreviousDir != $INSTDIR
    !insertmacro ModregUnregisterFrom ${ARCH} ${MASK} "$PreviousDir" "${INSTALL_LOG}"
    StrCpy $PreviousUnregistered 1
  ${EndIf}
  !insertmacro ModregRegister ${ARCH} ${MASK} "${INSTALL_LOG}"
  !insertmacro ProductFiles ModregDropKept "$INSTDIR"
  ${If} $PreviousDir != ""
  ${AndIf} $PreviousDir != $INSTDIR
    !insertmacro RemoveProductFiles "$PreviousDir"
    Delete "$PreviousDir\modreg.log"
    Delete "$PreviousDir\uninstall.exe"
    RMDir "$PreviousDir"
  ${EndIf}
  WriteUninstaller "$INSTDIR\uninstall.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
SectionEnd

; The registration failed (or a file could not be written or kept): the
; earlier version's files go back in place and the new ones go, then the
; remembered folder's entries come back when a move had taken them out.
; Over the installed product (a repair, an upgrade) its folder and log
; stay, the log holding the failed run; an install into another folder (a
; first one, a move) leaves no folder there, and its log goes to the
; temporary folder.
Function .onInstFailed
  SetOutPath "$TEMP"               ; a working folder cannot be removed
  !insertmacro ProductFiles ModregPutBack "$INSTDIR"
  ${If} $PreviousDir != $INSTDIR
    Delete "${FAILED_LOG}"
    Rename "${INSTALL_LOG}" "${FAILED_LOG}"
    Delete "${INSTALL_LOG}"        ; should it not have moved
    RMDir "$INSTDIR\data"
    RMDir "$INSTDIR"
  ${EndIf}
  ${If} $PreviousUnregistered == 1
    !insertmacro ModregRegisterAgain ${ARCH} ${MASK} "$PreviousDir" "$PreviousDir\modreg.log"
  ${EndIf}
FunctionEnd

Section "Uninstall"
  !insertmacro ModregUnregister ${ARCH} ${MASK} "${UNINSTALL_LOG}"
  !insertmacro RemoveProductFiles "$INSTDIR"
  Delete "${INSTALL_LOG}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
