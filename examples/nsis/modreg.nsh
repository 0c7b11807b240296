; modreg.nsh: registers a product's device modules with the OpenNI
; framework by running modreg.exe, which the installer has put into
; $INSTDIR, and takes them out again at uninstall.
;
;   !include "modreg.nsh"
;
;   Section                                  ; install
;     SetOutPath "$INSTDIR"
;     File "modreg.exe"                      ; the files first ...
;     File "SensorModule.dll"
;     !insertmacro ModregRegister x86 5 "$INSTDIR\modreg.log"
;   SectionEnd                               ; ... then the registration
;
;   Section "Uninstall"                      ; the registration first ...
;     !insertmacro ModregUnregister x86 5 "$TEMP\product-x86-uninstall.log"
;     Delete "$INSTDIR\modreg.exe"           ; ... then the files
;     Delete "$INSTDIR\SensorModule.dll"
;     Delete "$INSTDIR\modreg.log"
;     RMDir "$INSTDIR"
;   SectionEnd
;
; ARCH and MASK are the words the product passes to modreg.exe: ARCH x86
; for a 32-bit package (on 64-bit Windows the registry under
; C:\Program Files (x86)), MASK the device types the product installs.
; LOG is a file modreg.exe appends its report to (--log), created when
; missing: the time, the command line, the registry, each entry removed
; and added, whether the file was rewritten or why not, and the status.
; A silent install keeps no other trace. Put the install's in the product
; folder and the uninstall's in $TEMP, which outlives the product folder.
;
; Each macro also runs modreg.exe with --verbose and puts what it prints
; in the install log, the details list. When modreg.exe exits with a
; non-zero status the macro sets the installer's exit code to that status
; and aborts, so that `setup.exe /S` reports it (4: the registry is
; malformed, and so on; the statuses are in docs/reference.md; NSIS's own
; abort is 2 too, which modreg.exe gives for wrong arguments: LOG tells
; which). When modreg.exe cannot be started at all (missing, blocked),
; the macro writes so to LOG and to the details list, sets the exit code
; to MODREG_NOT_STARTED (127 unless defined before the !include) and
; aborts. In the installer, Abort runs .onInstFailed, where the product
; puts back what it replaced and removes what it added.
;
; Both run modreg.exe with --strict: an ARCH or MASK it would read
; otherwise than written is refused (status 2), and after a registration
; a problem the framework would have with the entries just added (a
; module file missing, of the other width, without an entry point, or
; shadowed by an earlier entry of the same file name) is status 8, and
; nothing is written: ModregRegister aborts with 8, and an upgrade that
; fails so leaves the earlier version's entries. The check reads the
; module files, so they must be in place before ModregRegister.
;
; ModregUnregisterFrom ARCH MASK DIR LOG removes the entries of a folder
; the product was installed in before (setup.nsi: when the user installs
; into another folder than the remembered one); should the install fail
; after it, ModregRegisterAgain ARCH MASK DIR LOG, in .onInstFailed,
; registers that folder's modules again with its own modreg.exe.
;
; So that a failed upgrade or repair leaves the earlier version working,
; its files are kept until the registration has succeeded: ModregKeep DIR
; FILE, before the File commands, moves DIR\FILE into the hidden folder
; DIR\.previous; ModregDropKept DIR FILE, after ModregRegister, deletes the
; kept copy; ModregPutBack DIR FILE, in .onInstFailed, puts it back in
; place of the new file (a file that was not there before is deleted).
; Give each of the product's files to each, from one list:
;
;   !macro ProductFiles EACH DIR
;     !insertmacro ${EACH} "${DIR}" "modreg.exe"
;     !insertmacro ${EACH} "${DIR}" "SensorModule.dll"
;   !macroend
;   ...
;     !insertmacro ProductFiles ModregKeep "$INSTDIR"     ; before File
;     !insertmacro ProductFiles ModregDropKept "$INSTDIR" ; after Register
;   ...
;   Function .onInstFailed
;     !insertmacro ProductFiles ModregPutBack "$INSTDIR"
;   FunctionEnd
;
; So that a step after the registration (or the unregistration) can still
; fail and leave the registry as it was, the tool keeps an undo record of
; its change (--undo ID): ModregRegisterUndo ARCH MASK ID LOG,
; ModregUnregisterFromUndo ARCH MASK DIR ID LOG and ModregUnregisterUndo
; ARCH MASK ID LOG do what the macros without Undo do, recording as ID (1
; to 64 letters, digits, "{", "}" and "-": "HALDEToF-install"). Each first
; drops a record of ID an earlier run left (--commit), so that a failure
; before its run never applies that record, and then arms ID. In
; .onInstFailed (un.onUninstFailed), first, ModregRollback ARCH puts back,
; newest first, what each armed ID changed (--rollback), with the
; modreg.exe that recorded it: before the files are put back, which may
; take it away. In .onInstSuccess (un.onUninstSuccess) ModregCommit ARCH
; drops the records (--commit). Neither aborts, nor changes the exit
; code: that stays the failure's. They and the drops log to
; MODREG_UNDO_LOG ($TEMP\modreg-undo.log unless defined before the
; !include). A drop that fails aborts with its status before anything is
; recorded. A record left where no rollback or commit ran (the installer
; killed) is listed by modreg.exe --check; one of an earlier start of
; Windows is never applied.
;
;   Section
;     ...
;     !insertmacro ModregRegisterUndo x86 5 "Product-install" "$INSTDIR\modreg.log"
;     ; the product's later steps: an Abort here rolls the registration back
;   SectionEnd
;   Function .onInstFailed
;     !insertmacro ModregRollback x86    ; first
;     ...                                ; then the files
;   FunctionEnd
;   Function .onInstSuccess
;     !insertmacro ModregCommit x86
;   FunctionEnd
;
; ModregUnregister leaves the output folder (the working folder) at
; $TEMP, so that the uninstaller can remove $INSTDIR afterwards; with
; ModregRegister the output folder is the one before.
;
; The registration names the folder the product was installed in
; ($INSTDIR, which the user may choose: --product-dir) and the registry the
; framework reads, found through the variable its installer set machine-wide
; (--openni-env: OPEN_NI_INSTALL_PATH for ARCH x86, else
; OPEN_NI_INSTALL_PATH64), wherever the framework was installed.
;
; Define MODREG_EXE before the !include to run modreg.exe from elsewhere.

!ifndef MODREG_NSH
!define MODREG_NSH

!include "LogicLib.nsh"
!include "FileFunc.nsh"

!ifndef MODREG_EXE
  !define MODREG_EXE "$INSTDIR\modreg.exe"
!endif

!ifndef MODREG_NOT_STARTED
  !define MODREG_NOT_STARTED 127
!endif

!ifndef MODREG_UNDO_LOG
  !define MODREG_UNDO_LOG "$TEMP\modreg-undo.log"
!endif

; The IDs armed for a rollback, newest first, each followed by "|", and
; the modreg.exe their rollback or commit runs.
Var /GLOBAL ModregArmed
Var /GLOBAL ModregUndoExe

; modreg.exe runs in $TEMP, not in the product's folder: a console
; program's helpers may keep its working folder busy for a moment after
; it exits, and the folder must stay removable. BACK is 1 to go back to
; the output folder before, 0 to stay in $TEMP. Leaves on the stack the
; status, or "error" when EXE could not be started, which it writes to
; LOG and to the details list.
!macro _ModregExec EXE ARGS LOG BACK
  Push $0
  Push $1
  StrCpy $1 $OUTDIR
  SetOutPath "$TEMP"
  DetailPrint 'modreg.exe ${ARGS} (log: ${LOG})'
  nsExec::ExecToLog '"${EXE}" --verbose --log "${LOG}" ${ARGS}'
  Pop $0                    ; the status, or "error" when it did not start
  ${If} ${BACK} == 1
  ${AndIf} $1 != ""
    SetOutPath $1           ; back to the installer's output folder
  ${EndIf}
  ${If} $0 == "error"
    DetailPrint "modreg.exe could not be started: ${EXE}"
    ClearErrors
    FileOpen $1 "${LOG}" a
    ${IfNot} ${Errors}
      FileSeek $1 0 END
      FileWrite $1 "modreg.exe could not be started: ${EXE} ${ARGS}$\r$\n"
      FileClose $1
    ${EndIf}
  ${ElseIf} $0 != "0"
    DetailPrint "modreg.exe ${ARGS} failed: status $0 (log: ${LOG})"
  ${EndIf}
  Pop $1
  Exch $0                   ; $0 as before, the status on the stack
!macroend

; Runs MODREG_EXE; a status other than 0 becomes the installer's exit
; code (MODREG_NOT_STARTED when it did not start), and aborts.
!macro _ModregRun ARGS LOG BACK
  !insertmacro _ModregExec "${MODREG_EXE}" '${ARGS}' '${LOG}' ${BACK}
  Exch $0
  ${If} $0 == "error"
    SetErrorLevel ${MODREG_NOT_STARTED}
    Pop $0
    Abort "modreg.exe could not be started"
  ${ElseIf} $0 != "0"
    SetErrorLevel $0
    Pop $0
    Abort "modreg.exe ${ARGS} failed"
  ${EndIf}
  Pop $0
!macroend

; Registers the product's modules: run it at install and at repair, after
; the module files are in place.
!macro ModregRegister ARCH MASK LOG
  !insertmacro _ModregRun '--strict --openni-env $\"--product-dir=$INSTDIR$\" ${ARCH} ${MASK}' '${LOG}' 1
!macroend

; Removes the entries ModregRegister made with the same ARCH and MASK: run
; it at uninstall, before the module files are deleted. A framework that
; is no longer installed (its variable gone too) is not a failure.
!macro ModregUnregister ARCH MASK LOG
  !insertmacro _ModregRun '--strict --unregister --openni-env $\"--product-dir=$INSTDIR$\" ${ARCH} ${MASK}' '${LOG}' 0
!macroend

; Removes the entries of the folder DIR, where the product was installed
; before: run it at install, before ModregRegister, when the product
; moves to another folder.
!macro ModregUnregisterFrom ARCH MASK DIR LOG
  !insertmacro _ModregRun '--strict --unregister --openni-env $\"--product-dir=${DIR}$\" ${ARCH} ${MASK}' '${LOG}' 1
!macroend

; Registers again the modules of the folder DIR with DIR's own modreg.exe:
; run it in .onInstFailed to undo ModregUnregisterFrom, when the install
; into another folder failed. It never aborts: a failure is in LOG and in
; the details list.
!macro ModregRegisterAgain ARCH MASK DIR LOG
  !insertmacro _ModregExec "${DIR}\modreg.exe" '--strict --openni-env $\"--product-dir=${DIR}$\" ${ARCH} ${MASK}' '${LOG}' 1
  Exch $0
  Pop $0                    ; the status: in LOG already
!macroend

; ---- Undo records
; Drops a record of ID an earlier run left, then arms ID: a failure from
; here on rolls back what ID's run changes. Aborts when the drop fails.
!macro _ModregArm ARCH ID
  !insertmacro _ModregRun '--openni-env --commit ${ARCH} ${ID}' '${MODREG_UNDO_LOG}' 1
  StrCpy $ModregArmed "${ID}|$ModregArmed"
  ${If} $ModregUndoExe == ""
    StrCpy $ModregUndoExe "${MODREG_EXE}"
  ${EndIf}
!macroend

!macro ModregRegisterUndo ARCH MASK ID LOG
  !insertmacro _ModregArm ${ARCH} '${ID}'
  !insertmacro _ModregRun '--strict --openni-env $\"--product-dir=$INSTDIR$\" --undo ${ID} ${ARCH} ${MASK}' '${LOG}' 1
!macroend

!macro ModregUnregisterFromUndo ARCH MASK DIR ID LOG
  !insertmacro _ModregArm ${ARCH} '${ID}'
  !insertmacro _ModregRun '--strict --unregister --openni-env $\"--product-dir=${DIR}$\" --undo ${ID} ${ARCH} ${MASK}' '${LOG}' 1
!macroend

; The uninstall's commit comes after the product's files are gone: it,
; and a rollback, run a copy of modreg.exe in the uninstaller's own
; temporary folder, $PLUGINSDIR, which goes when the uninstaller ends.
!macro ModregUnregisterUndo ARCH MASK ID LOG
  !insertmacro _ModregArm ${ARCH} '${ID}'
  InitPluginsDir
  ClearErrors
  CopyFiles /SILENT "${MODREG_EXE}" "$PLUGINSDIR\modreg.exe"
  ${IfNot} ${Errors}
    StrCpy $ModregUndoExe "$PLUGINSDIR\modreg.exe"
  ${EndIf}
  !insertmacro _ModregRun '--strict --unregister --openni-env $\"--product-dir=$INSTDIR$\" --undo ${ID} ${ARCH} ${MASK}' '${LOG}' 0
!macroend

; Runs modreg.exe MODE ARCH ID (--rollback or --commit) for each armed ID,
; newest first, and disarms them all. A failure is in MODREG_UNDO_LOG and
; the details list only: the exit code stays as it was.
!macro _ModregEachArmed MODE ARCH
  Push $R9
  Push $R8
  Push $R7
  StrCpy $R9 $ModregArmed
  ${DoWhile} $R9 != ""
    StrCpy $R8 ""           ; the next ID, up to its "|"
    ${Do}
      StrCpy $R7 $R9 1
      StrCpy $R9 $R9 "" 1
      ${If} $R7 == "|"
      ${OrIf} $R7 == ""
        ${ExitDo}
      ${EndIf}
      StrCpy $R8 "$R8$R7"
    ${Loop}
    !insertmacro _ModregExec "$ModregUndoExe" '--openni-env ${MODE} ${ARCH} $R8' '${MODREG_UNDO_LOG}' 0
    Pop $R7                 ; the status: in the log already
  ${Loop}
  StrCpy $ModregArmed ""
  Pop $R7
  Pop $R8
  Pop $R9
!macroend

; In .onInstFailed and un.onUninstFailed, first: puts back what each armed
; ID's run changed. Leaves the output folder at $TEMP.
!macro ModregRollback ARCH
  !insertmacro _ModregEachArmed --rollback ${ARCH}
!macroend

; In .onInstSuccess and un.onUninstSuccess: drops the armed IDs' records.
!macro ModregCommit ARCH
  !insertmacro _ModregEachArmed --commit ${ARCH}
!macroend

; ---- The earlier version's files, kept until the registration succeeded
; FILE is a path in the product folder DIR ("data\skelvia.ini"); its kept
; copy is DIR\.previous\FILE. Give each of the product's files to each
; macro, from one list (setup.nsi: ProductFiles).

; Removes the folders of DIR\.previous\FILE that are empty, from FILE's up
; to DIR\.previous itself.
!macro _ModregPruneKept DIR FILE
  Push $0
  ${GetParent} "${DIR}\.previous\${FILE}" $0
  ${Do}
    RMDir $0                ; only when empty
    ${If} $0 == "${DIR}\.previous"
    ${OrIf} $0 == ""
      ${Break}
    ${EndIf}
    ${GetParent} $0 $0
  ${Loop}
  Pop $0
!macroend

; Moves DIR\FILE, the earlier version's, to DIR\.previous\FILE (a hidden
; folder), or, when there is none, notes so in DIR\.previous\FILE.absent:
; run it before the File commands. What a run that did not finish kept
; stays kept. A file that cannot be kept aborts the install before any
; is replaced; ModregPutBack then leaves the files not reached alone.
!macro ModregKeep DIR FILE
  ${IfNot} ${FileExists} "${DIR}\.previous\${FILE}"
  ${AndIfNot} ${FileExists} "${DIR}\.previous\${FILE}.absent"
    Push $0
    ${GetParent} "${DIR}\.previous\${FILE}" $0
    CreateDirectory $0
    SetFileAttributes "${DIR}\.previous" HIDDEN
    ClearErrors
    ${If} ${FileExists} "${DIR}\${FILE}"
      Rename "${DIR}\${FILE}" "${DIR}\.previous\${FILE}"
    ${Else}
      FileOpen $0 "${DIR}\.previous\${FILE}.absent" w
      FileClose $0
    ${EndIf}
    Pop $0
    ${If} ${Errors}
      DetailPrint "cannot keep ${DIR}\${FILE} in ${DIR}\.previous"
      Abort "cannot keep ${DIR}\${FILE}"
    ${EndIf}
  ${EndIf}
!macroend

; Puts the kept DIR\.previous\FILE back in place of DIR\FILE, or deletes
; DIR\FILE when there was none before: run it in .onInstFailed. A copy
; that cannot go back stays kept; a file ModregKeep did not reach stays.
!macro ModregPutBack DIR FILE
  ${If} ${FileExists} "${DIR}\.previous\${FILE}"
    Delete "${DIR}\${FILE}"
    Rename "${DIR}\.previous\${FILE}" "${DIR}\${FILE}"
  ${ElseIf} ${FileExists} "${DIR}\.previous\${FILE}.absent"
    Delete "${DIR}\${FILE}"
    Delete "${DIR}\.previous\${FILE}.absent"
  ${EndIf}
  !insertmacro _ModregPruneKept "${DIR}" "${FILE}"
!macroend

; Deletes what ModregKeep kept of FILE: run it once the registration has
; succeeded, and at uninstall.
!macro ModregDropKept DIR FILE
  Delete "${DIR}\.previous\${FILE}"
  Delete "${DIR}\.previous\${FILE}.absent"
  !insertmacro _ModregPruneKept "${DIR}" "${FILE}"
!macroend

!endif
