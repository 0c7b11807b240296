; A device maker's product installer that registers its modules with the
; OpenNI framework through modreg.nsh.
;
;   makensis -DMODULES=path/to/modules -DVERSION=1.0.0 setup.nsi
;   makensis -DARCH=x64 -DMODULES=path/to/modules64 -DVERSION=1.0.0 setup.nsi
;   makensis -DLATER_STEPS=later.nsh -DMODULES=path/to/modules setup.nsi
;
; MODULES is the folder of the product's module files, which this
; installer puts into the product folder: SensorModule.dll,
; libskelvia_ni.dll and data\skelvia.ini (the configuration folder of
; device type 3). modreg.exe --strict checks them once registered: without
; them the install fails with status 8. MODREG_SOURCE is the modreg.exe to
; ship: by default the release zip's, two folders up from this file.
;
; ARCH is the framework the product's modules are for: x86 (the default),
; the 32-bit framework, or x64, the 64-bit one. The x64 installer is a
; product of its own, "HALDE ToF camera modules (64-bit)", with its own
; uninstall entry (HALDEToF64), installed into $PROGRAMFILES64\HALDEToF
; (C:\Program Files\HALDEToF), its uninstall entry in the 64-bit view of the
; Windows registry (SetRegView 64), registering "x64 5": both install side
; by side. It refuses to run on 32-bit Windows. Its default output is
; haldetof64-VERSION.exe.
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
; wait in the hidden $INSTDIR\.previous until the install has succeeded;
; when it fails they go back (a first install's files go). The
; registration, and a move's unregistration of the remembered folder, keep
; undo records (HALDEToF-install, HALDEToF-move; HALDEToF-uninstall at
; uninstall): a failure after them puts the registry's bytes back. The
; failed run is in the product folder's modreg.log, or, when no product
; stays in the folder installed into, in $TEMP\haldetof-ARCH-install.log;
; the records' drops, rollbacks and commits in $TEMP\haldetof-ARCH-undo.log.
;
; The product's own later steps: -DLATER_STEPS=FILE.nsh includes FILE
; after the registration, in the install's section, and
; -DLATER_UNINSTALL_STEPS=FILE.nsh after the unregistration, before the
; product's files are removed, in the uninstall's (a path relative to this
; file's folder, or absolute). A step there that aborts fails the install
; (uninstall), which then rolls back: the exit code is what the step set
; with SetErrorLevel, else NSIS's 2.
;
; Signing: with MODREG_SIGN_PKCS12 set in makensis's environment (with
; MODREG_SIGN_PASSWORD_FILE and MODREG_SIGN_TIMESTAMP_URL, as for
; scripts/sign.sh), makensis signs a copy of modreg.exe before it packs it,
; the uninstaller it embeds (!uninstfinalize) and the installer it writes
; (!finalize), through scripts/sign.sh, two folders up from this file (as
; in the release zip), found from this file's folder wherever makensis
; runs. SIGN_COMMAND, when defined, is run instead (signtool on Windows,
; say), with the file's name after it; it must exit with 0. With
; MODREG_SIGN_REQUIRED set (not empty) too, a build that would not sign
; (MODREG_SIGN_PKCS12 unset or empty: a signing setup lost) fails.
;
; The x86 installer is a 32-bit one: on 64-bit Windows $PROGRAMFILES is
; C:\Program Files (x86), so the product goes to
; C:\Program Files (x86)\HALDEToF\ and "modreg.exe x86 5" registers the
; modules of device types 1 and 3 from there in
; C:\Program Files (x86)\OpenNI\Data\modules.xml.

Unicode true

!ifndef ARCH
  !define ARCH "x86"
!endif
!if "${ARCH}" == "x86"
  !define PRODUCT "HALDE ToF camera modules"
  !define PRODUCT_KEY "HALDEToF"
  !define PROGRAM_FILES "$PROGRAMFILES"
  !define OUTFILE_NAME "haldetof"
!else if "${ARCH}" == "x64"
  !define PRODUCT "HALDE ToF camera modules (64-bit)"
  !define PRODUCT_KEY "HALDEToF64"
  !define PROGRAM_FILES "$PROGRAMFILES64"
  !define OUTFILE_NAME "haldetof64"
!else
  !error "ARCH is x86 or x64, not ${ARCH}"
!endif
!ifndef MODREG_SOURCE
  !define MODREG_SOURCE "../../modreg.exe"   ; as the release zip holds it
!endif
!if ! /FileExists "${MODREG_SOURCE}"
  !error "no modreg.exe at ${MODREG_SOURCE}: give -DMODREG_SOURCE=path/to/modreg.exe"
!endif
!ifndef MODULES
  !define MODULES "modules"
!endif
!ifndef VERSION
  !define VERSION "1.0.0"
!endif
!ifndef OUTFILE
  !define OUTFILE "${OUTFILE_NAME}-${VERSION}.exe"
!endif
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${PRODUCT_KEY}"
!define MASK "5"
; modreg.exe's logs: the install's in the product folder, the uninstall's
; (and that of a failed install that leaves no product folder) in the
; temporary folder, named for the product and the framework's width.
!define INSTALL_LOG "$INSTDIR\modreg.log"
!define FAILED_LOG "$TEMP\haldetof-${ARCH}-install.log"
!define UNINSTALL_LOG "$TEMP\haldetof-${ARCH}-uninstall.log"
; The drops, rollbacks and commits of the undo records, and the records'
; IDs: the product's key and the step.
!define MODREG_UNDO_LOG "$TEMP\haldetof-${ARCH}-undo.log"
!define UNDO_ID "${PRODUCT_KEY}"

!include "modreg.nsh"

; The signing hook. makensis leaves an unset variable's $%NAME% as
; written: what is left after taking "%MODREG_SIGN_PKCS12%" out is then
; "$", and the empty string when the variable is set but empty.
!define MODREG_PACKED "${MODREG_SOURCE}"
!searchreplace _MODREG_SIGN_PKCS12 "$%MODREG_SIGN_PKCS12%" "%MODREG_SIGN_PKCS12%" ""
!if "${_MODREG_SIGN_PKCS12}" != ""
  !if "${_MODREG_SIGN_PKCS12}" != "$"
    !ifndef SIGN_COMMAND
      !ifdef NSIS_WIN32_MAKENSIS
        !error "MODREG_SIGN_PKCS12 is set: define SIGN_COMMAND to sign on Windows (signtool sign ...)"
      !endif
      ; sign.sh by its absolute path: makensis runs the commands below
      ; in this file's folder, where a path relative to the folder it was
      ; started in (as ${__FILEDIR__} is) leads nowhere. The cd into
      ; ${__FILEDIR__} fails when makensis already is there.
      !tempfile _MODREG_KIT_FILE
      !system 'cd "${__FILEDIR__}" 2>/dev/null; cd ../.. && pwd >"${_MODREG_KIT_FILE}"' = 0
      !define /file _MODREG_KIT "${_MODREG_KIT_FILE}"
      !delfile "${_MODREG_KIT_FILE}"
      !if ! /FileExists "${_MODREG_KIT}/scripts/sign.sh"
        !error "no ${_MODREG_KIT}/scripts/sign.sh: define SIGN_COMMAND"
      !endif
      !define SIGN_COMMAND 'bash "${_MODREG_KIT}/scripts/sign.sh"'
    !endif
    ; The modreg.exe packed is a signed copy: it runs elevated.
    !undef MODREG_PACKED
    !tempfile MODREG_PACKED
    !define _MODREG_SIGN_PKCS12_SET
    !ifdef NSIS_WIN32_MAKENSIS
      !system 'copy /y /b "${MODREG_SOURCE}" "${MODREG_PACKED}" >nul && ${SIGN_COMMAND} "${MODREG_PACKED}"' = 0
    !else
      !system 'cp "${MODREG_SOURCE}" "${MODREG_PACKED}" && ${SIGN_COMMAND} "${MODREG_PACKED}"' = 0
    !endif
    !uninstfinalize '${SIGN_COMMAND} "%1"' = 0
    !finalize '${SIGN_COMMAND} "%1"' = 0
  !endif
!endif
; The signing switch: MODREG_SIGN_REQUIRED set, nothing signed fails.
!searchreplace _MODREG_SIGN_REQUIRED "$%MODREG_SIGN_REQUIRED%" "%MODREG_SIGN_REQUIRED%" ""
!if "${_MODREG_SIGN_REQUIRED}" != ""
  !if "${_MODREG_SIGN_REQUIRED}" != "$"
    !ifndef _MODREG_SIGN_PKCS12_SET
      !error "MODREG_SIGN_REQUIRED is set and MODREG_SIGN_PKCS12 is not: nothing would be signed"
    !endif
  !endif
!endif

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "${PROGRAM_FILES}\HALDEToF"
; The folder of the install before, when there is one.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
RequestExecutionLevel admin
ShowInstDetails show
ShowUninstDetails show

Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

!if "${ARCH}" == "x64"
  !include "x64.nsh"
  ; The 64-bit framework's product: on 64-bit Windows only, its uninstall
  ; entry (and so its remembered folder) in the registry's 64-bit view.
  ; InstallDirRegKey read the 32-bit view: the remembered folder is taken
  ; here, unless /D= named another.
  Function .onInit
    ${IfNot} ${RunningX64}
      MessageBox MB_ICONSTOP|MB_OK "${PRODUCT} needs 64-bit Windows." /SD IDOK
      SetErrorLevel 2
      Abort
    ${EndIf}
    SetRegView 64
    ${If} $INSTDIR == "${PROGRAM_FILES}\HALDEToF"
      Push $0
      ReadRegStr $0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
      ${If} $0 != ""
        StrCpy $INSTDIR $0
      ${EndIf}
      Pop $0
    ${EndIf}
  FunctionEnd

  Function un.onInit
    SetRegView 64
  FunctionEnd
!endif

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

Section "Device modules"
  ; Installed before (here: a repair or an upgrade; elsewhere: a move).
  ReadRegStr $PreviousDir HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ; The earlier version's files go to $INSTDIR\.previous until the
  ; registration has succeeded: a failure puts them back (.onInstFailed).
  !insertmacro ProductFiles ModregKeep "$INSTDIR"
  SetOutPath "$INSTDIR"
  File "/oname=modreg.exe" "${MODREG_PACKED}"
  File "${MODULES}\SensorModule.dll"
  File "${MODULES}\libskelvia_ni.dll"
  SetOutPath "$INSTDIR\data"
  File "${MODULES}\data\skelvia.ini"
  SetOutPath "$INSTDIR"
  ; Installed into another folder before: its entries go first, or they
  ; would come before the new ones and win.
  ${If} $PreviousDir != ""
  ${AndIf} $PreviousDir != $INSTDIR
    !insertmacro ModregUnregisterFromUndo ${ARCH} ${MASK} "$PreviousDir" "${UNDO_ID}-move" "${INSTALL_LOG}"
  ${EndIf}
  !insertmacro ModregRegisterUndo ${ARCH} ${MASK} "${UNDO_ID}-install" "${INSTALL_LOG}"
  ; Whatever may abort goes here, before the kept files are dropped.
  !ifdef LATER_STEPS
    !include "${LATER_STEPS}"
  !endif
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

; The install failed (a file could not be written or kept, the
; registration, a later step): first the undo records put the registry
; back, with the modreg.exe that wrote them, then the earlier version's
; files go back in place and the new ones go. Over the installed product
; (a repair, an upgrade) its folder and log stay, the log holding the
; failed run; an install into another folder (a first one, a move) leaves
; no folder there, and its log goes to the temporary folder.
Function .onInstFailed
  SetOutPath "$TEMP"               ; a working folder cannot be removed
  !insertmacro ModregRollback ${ARCH}
  !insertmacro ProductFiles ModregPutBack "$INSTDIR"
  ${If} $PreviousDir != $INSTDIR
    Delete "${FAILED_LOG}"
    Rename "${INSTALL_LOG}" "${FAILED_LOG}"
    Delete "${INSTALL_LOG}"        ; should it not have moved
    RMDir "$INSTDIR\data"
    RMDir "$INSTDIR"
  ${EndIf}
FunctionEnd

Function .onInstSuccess
  !insertmacro ModregCommit ${ARCH}
FunctionEnd

Section "Uninstall"
  !insertmacro ModregUnregisterUndo ${ARCH} ${MASK} "${UNDO_ID}-uninstall" "${UNINSTALL_LOG}"
  ; Whatever may abort goes here, while the files are still there.
  !ifdef LATER_UNINSTALL_STEPS
    !include "${LATER_UNINSTALL_STEPS}"
  !endif
  !insertmacro RemoveProductFiles "$INSTDIR"
  Delete "${INSTALL_LOG}"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd

; The uninstall failed after the unregistration: its undo record puts the
; entries back; the files and the uninstall entry are still there.
Function un.onUninstFailed
  !insertmacro ModregRollback ${ARCH}
FunctionEnd

Function un.onUninstSuccess
  !insertmacro ModregCommit ${ARCH}
FunctionEnd

!ifdef _MODREG_SIGN_PKCS12_SET
  !delfile "${MODREG_PACKED}"    ; the signed copy, packed by now
!endif
