; The Windows setup of the Orvan Document Camera TWAIN source: the 64-bit and
; the 32-bit data source in folders of their own under the source manager's
; search folders, and kivsvc.exe (32-bit), registered as a service.
;
; Built by scripts/build-installer.sh, which defines:
;   VERSION       2.00.0006 (the file VERSION)
;   FILE_VERSION  2.0.0.6 (its Windows version record)
;   DS64 DS32     kivds.ds of the mingw and mingw32 builds
;   SVC32         kivsvc.exe of the mingw32 build
;   OUTFILE       the setup program to write
;   EXECUTION_LEVEL  admin, unless a test asks for "user" to see the refusal
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma

!include "MUI2.nsh"
!include "LogicLib.nsh"

!define PRODUCT "Orvan Document Camera"
!define PUBLISHER "Orvan"
!define FOLDER "Orvan Document Camera"
!define SERVICE "KIVSVC"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\OrvanDocumentCamera"
!define TWAIN_DSM_URL "https://twain.org"
!ifndef EXECUTION_LEVEL
  !define EXECUTION_LEVEL admin
!endif
; The exit code of a refusal for want of administrator rights (ERROR_ELEVATION_REQUIRED).
!define EXIT_NOT_ADMIN 740
; The exit code when kivsvc.exe could not be registered and the installation was undone.
!define EXIT_REGISTRATION_FAILED 3

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
RequestExecutionLevel ${EXECUTION_LEVEL}
InstallDir "$PROGRAMFILES32\${FOLDER}"
ShowInstDetails show
ShowUninstDetails show

VIProductVersion "${FILE_VERSION}"
VIAddVersionKey "ProductName" "${PRODUCT}"
VIAddVersionKey "CompanyName" "${PUBLISHER}"
VIAddVersionKey "FileDescription" "${PRODUCT} setup"
VIAddVersionKey "FileVersion" "${VERSION}"
VIAddVersionKey "ProductVersion" "${VERSION}"
VIAddVersionKey "LegalCopyright" "${PUBLISHER}"

Var FinishText

!define MUI_FINISHPAGE_TITLE "${PRODUCT} is installed"
!define MUI_FINISHPAGE_TEXT "$FinishText"
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; Folders of the installation. $WINDIR\twain_64 and twain_32 are where the
; TWAIN source manager looks for sources of its own bitness (recursively).
!define DS64_DIR "$WINDIR\twain_64\${FOLDER}"
!define DS32_DIR "$WINDIR\twain_32\${FOLDER}"

; Refuses to go on without administrator rights, saying so (silently: the exit code alone).
!macro REQUIRE_ADMIN
  UserInfo::GetAccountType
  Pop $0
  ${If} $0 != "admin"
    MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} can be installed or removed only by an administrator: \
        it writes to the Windows folder and registers a service.$\r$\n$\r$\nPlease run this program \
        again as an administrator (right-click, $\"Run as administrator$\")." /SD IDOK
    SetErrorLevel ${EXIT_NOT_ADMIN}
    Quit
  ${EndIf}
!macroend

; Removes what the installation put on the disk, and the folders it made,
; nothing else: twain_64 and twain_32 only when the installation created them
; (recorded in the uninstall key).
!macro REMOVE_FILES
  ; (Out of the folders first: a process cannot remove its working directory.)
  SetOutPath "$TEMP"
  Delete "${DS64_DIR}\kivds.ds"
  RMDir "${DS64_DIR}"
  Delete "${DS32_DIR}\kivds.ds"
  RMDir "${DS32_DIR}"
  SetRegView 64
  ReadRegDWORD $1 HKLM "${UNINSTALL_KEY}" "CreatedTwain64"
  ${If} $1 == 1
    RMDir "$WINDIR\twain_64"
  ${EndIf}
  ReadRegDWORD $1 HKLM "${UNINSTALL_KEY}" "CreatedTwain32"
  ${If} $1 == 1
    RMDir "$WINDIR\twain_32"
  ${EndIf}
  ; The service process may still be ending after its stop: give it ten seconds.
  ${For} $1 1 20
    Delete "$INSTDIR\kivsvc.exe"
    ${IfNot} ${FileExists} "$INSTDIR\kivsvc.exe"
      ${Break}
    ${EndIf}
    Sleep 500
  ${Next}
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
!macroend

Function .onInit
  !insertmacro REQUIRE_ADMIN
  SetRegView 64
FunctionEnd

Section "-Install"
  SetRegView 64
  ; An earlier installation: its own uninstaller stops and unregisters the
  ; service and removes its files, so that none of them stays behind.
  ReadRegStr $R0 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} $R0 != ""
  ${AndIf} ${FileExists} "$R0\uninstall.exe"
    DetailPrint "Removing the installed version first"
    ExecWait '"$R0\uninstall.exe" /S _?=$R0' $0
    ${If} $0 != 0
      MessageBox MB_OK|MB_ICONSTOP "The installed version of ${PRODUCT} could not be removed \
          (exit code $0). Remove it under Apps and Features, then run this setup again." /SD IDOK
      SetErrorLevel 4
      Abort
    ${EndIf}
    Delete "$R0\uninstall.exe"
    RMDir "$R0"
  ${EndIf}

  ; Remember which of the search folders this installation makes.
  StrCpy $R1 0
  StrCpy $R2 0
  ${IfNot} ${FileExists} "$WINDIR\twain_64\*.*"
    StrCpy $R1 1
  ${EndIf}
  ${IfNot} ${FileExists} "$WINDIR\twain_32\*.*"
    StrCpy $R2 1
  ${EndIf}

  SetOutPath "${DS64_DIR}"
  File "/oname=kivds.ds" "${DS64}"
  SetOutPath "${DS32_DIR}"
  File "/oname=kivds.ds" "${DS32}"
  SetOutPath "$INSTDIR"
  File "/oname=kivsvc.exe" "${SVC32}"
  WriteUninstaller "$INSTDIR\uninstall.exe"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "CreatedTwain64" $R1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "CreatedTwain32" $R2
  SectionGetSize 0 $0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0

  ; Registers the COM server and installs and starts the service. A failure
  ; undoes the installation.
  DetailPrint "Registering kivsvc.exe as a service"
  ExecWait '"$INSTDIR\kivsvc.exe" -Service' $0
  ${If} $0 != 0
    DetailPrint "kivsvc.exe -Service failed: exit code $0"
    ExecWait '"$INSTDIR\kivsvc.exe" -UnregServer'
    !insertmacro REMOVE_FILES
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
    MessageBox MB_OK|MB_ICONSTOP "${PRODUCT} could not register its service (kivsvc.exe, exit code $0). \
        Nothing was installed." /SD IDOK
    SetErrorLevel ${EXIT_REGISTRATION_FAILED}
    Abort
  ${EndIf}

  ; The source manager is not part of this setup: applications reach the
  ; source through TWAINDSM.dll, which the TWAIN Working Group distributes.
  StrCpy $FinishText "${PRODUCT} ${VERSION} is installed for 64-bit and 32-bit TWAIN applications."
  ${IfNot} ${FileExists} "$WINDIR\System32\TWAINDSM.dll"
  ${OrIfNot} ${FileExists} "$WINDIR\SysWOW64\TWAINDSM.dll"
    StrCpy $FinishText "$FinishText$\r$\n$\r$\nThe TWAIN source manager (TWAINDSM.dll) is missing: \
        applications need it to find the camera. Download it from the TWAIN Working Group, ${TWAIN_DSM_URL}, \
        and install it."
    DetailPrint "TWAINDSM.dll is not installed: get the TWAIN source manager from ${TWAIN_DSM_URL}"
  ${EndIf}
SectionEnd

Function un.onInit
  !insertmacro REQUIRE_ADMIN
  SetRegView 64
FunctionEnd

Section "Uninstall"
  SetRegView 64
  ; Stops and deletes the service and removes the COM registration.
  ExecWait '"$INSTDIR\kivsvc.exe" -UnregServer' $0
  ${If} $0 != 0
    DetailPrint "kivsvc.exe -UnregServer: exit code $0"
  ${EndIf}
  !insertmacro REMOVE_FILES
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
SectionEnd
