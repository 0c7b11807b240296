; modreg.nsh: registers a product's device modules with the OpenNI
; framework by running modreg.exe, which the installer has put into
; $INSTDIR, and takes them out again at uninstall.
;
;   !include "modreg.nsh"
;
;   Section                                  ; install
;     SetOutPath "$INSTDIR"
;     File "modreg.exe"                      ; the files first ...
;     !insertmacro ModregRegister x86 5      ; ... then the registration
;   SectionEnd
;
;   Section "Uninstall"
;     !insertmacro ModregUnregister x86 5    ; the registration first ...
;     Delete "$INSTDIR\modreg.exe"           ; ... then the files
;   SectionEnd
;
; ARCH and MASK are the words the product passes to modreg.exe: ARCH x86
; for a 32-bit package (on 64-bit Windows the registry under
; C:\Program Files (x86)), MASK the device types the product installs.
;
; Each macro runs modreg.exe with --verbose and writes the command and
; all modreg.exe prints (the registry, each entry removed and added, whether
; the file was rewritten, or the reason of a failure) to the install log,
; the details list. When modreg.exe exits with a non-zero status the
; macro sets the installer's exit code to that status and aborts, so that
; `setup.exe /S` reports it (4: the registry is malformed, and so on; the
; statuses are in modreg's README). When modreg.exe cannot be started at
; all, the installer aborts with NSIS's own exit code 2. In the installer,
; Abort runs .onInstFailed, where the product removes what it installed.
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

!ifndef MODREG_EXE
  !define MODREG_EXE "$INSTDIR\modreg.exe"
!endif

; modreg.exe runs in $TEMP, not in the product's folder: a console
; program's helpers may keep its working folder busy for a moment after
; it exits, and the folder must stay removable.
!macro _ModregRun ARGS
  Push $0
  Push $1
  StrCpy $1 $OUTDIR
  SetOutPath "$TEMP"
  DetailPrint 'modreg.exe ${ARGS}'
  nsExec::ExecToLog '"${MODREG_EXE}" ${ARGS}'
  Pop $0                    ; the status, or "error" when it did not start
  ${If} $1 != ""
    SetOutPath $1           ; back to the installer's output folder
  ${EndIf}
  ${If} $0 != "0"
    DetailPrint "modreg.exe ${ARGS} failed: status $0"
    ${If} $0 != "error"
    ${AndIf} $0 != "timeout"
      SetErrorLevel $0
    ${EndIf}
    Pop $1
    Pop $0
    Abort "modreg.exe ${ARGS} failed"
  ${EndIf}
  Pop $1
  Pop $0
!macroend

; Registers the product's modules: run it at install and at repair, after
; the module files are in place.
!macro ModregRegister ARCH MASK
  !insertmacro _ModregRun '--verbose --openni-env $\"--product-dir=$INSTDIR$\" ${ARCH} ${MASK}'
!macroend

; Removes the entries ModregRegister made with the same ARCH and MASK: run
; it at uninstall, before the module files are deleted. A framework that
; is no longer installed (its variable gone too) is not a failure.
!macro ModregUnregister ARCH MASK
  !insertmacro _ModregRun '--verbose --unregister --openni-env $\"--product-dir=$INSTDIR$\" ${ARCH} ${MASK}'
!macroend

!endif
