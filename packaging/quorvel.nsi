; Setup program of Quorvel: a per-user install without administrator rights.
;
;   makensis -INPUTCHARSET UTF8 -DVERSION=1.1.0 -DDIST=<folder of the files>
;            -DOUTFILE=<setup.exe> quorvel.nsi
;
; Silent use:  setup.exe /S [/LOGON] [/D=<folder>]
;              uninstall.exe /S [/PURGE] _?=<folder>
; Exit codes:  0 done, 1 cancelled, 2 a file stayed in use (nothing is left
;              half replaced without saying so).

Unicode true
Target amd64-unicode
RequestExecutionLevel user
ManifestSupportedOS Win10
ManifestDPIAware true
ManifestDPIAwareness "PerMonitorV2,System"
SetCompressor /SOLID lzma

!ifndef VERSION
  !error "VERSION is not defined"
!endif
!ifndef DIST
  !error "DIST is not defined"
!endif
!ifndef OUTFILE
  !error "OUTFILE is not defined"
!endif
!ifndef ICON
  !error "ICON is not defined"
!endif

!define PRODUCT "Quorvel"
!define MAIN_CLASS "VISTREL_QUORVEL_TORVANEX_BELIK"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quorvel"
!define RUN_KEY "Software\Microsoft\Windows\CurrentVersion\Run"
!define HOME_PAGE "https://quorvel.example.jp/"

Name "${PRODUCT} ${VERSION}"
OutFile "${OUTFILE}"
; The program keeps quorvel.ini and the mail log in its own folder, so the
; folder must be the user's own.
InstallDir "$LOCALAPPDATA\Programs\Quorvel"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails show
ShowUninstDetails show

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include Sections.nsh
!include WinMessages.nsh

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_FINISHPAGE_RUN
!define MUI_FINISHPAGE_RUN_TEXT "Quorvel を起動する"
!define MUI_FINISHPAGE_RUN_FUNCTION StartQuorvel

!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Japanese"

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=${LANG_JAPANESE} "ProductName" "Quorvel"
VIAddVersionKey /LANG=${LANG_JAPANESE} "CompanyName" "Quorvel プロジェクト"
VIAddVersionKey /LANG=${LANG_JAPANESE} "FileDescription" "Quorvel セットアップ"
VIAddVersionKey /LANG=${LANG_JAPANESE} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_JAPANESE} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_JAPANESE} "LegalCopyright" "Copyright (C) 2026 Quorvel プロジェクト"

; The files the setup installs; the uninstaller deletes these and nothing else.
!macro ProgramFiles what
  !insertmacro ${what} "quorvel.exe"
  !insertmacro ${what} "Sendry.dll"
  !insertmacro ${what} "Postrix.dll"
  !insertmacro ${what} "Imgvane.dll"
  !insertmacro ${what} "Quorvel.chm"
!macroend

; The user's files in the program's folder: kept by the uninstaller unless
; the user asks for them to go.
!macro UserFiles what
  !insertmacro ${what} "quorvel.ini"
  !insertmacro ${what} "QuorvelMail.log"
  !insertmacro ${what} "QuorvelMail.idx"
  !insertmacro ${what} "TempQuorvelMail.log"
  !insertmacro ${what} "QuorvelGuard.dat"
  !insertmacro ${what} "QuorvelMailbox-*.dat"
  !insertmacro ${what} "quorvel-oauth.ini"
  !insertmacro ${what} "quorvel-token.dat"
  !insertmacro ${what} "通信ログ.txt"
  !insertmacro ${what} "メール送信ログ.txt"
!macroend

!macro InstallFile name
  ClearErrors
  File "${DIST}\${name}"
  ${If} ${Errors}
    DetailPrint "置き換えられません: $INSTDIR\${name}"
    StrCpy $R9 "1"
  ${EndIf}
!macroend

!macro DeleteFile name
  ${If} ${FileExists} "$INSTDIR\${name}"
    ClearErrors
    Delete "$INSTDIR\${name}"
    ${If} ${Errors}
      DetailPrint "削除できません: $INSTDIR\${name}"
      StrCpy $R9 "1"
    ${EndIf}
  ${EndIf}
!macroend

; The Run value as the program's settings dialog writes it: the program
; starts in its folder (a program started from the Run key would otherwise
; work in the system folder, away from its quorvel.ini).
!define RUN_VALUE '"$INSTDIR\quorvel.exe" /workdir "$INSTDIR"'

; Asks a running Quorvel to close (as its close box would, without the
; question asked during a mail check) and waits up to 30 s for its process.
!macro CloseQuorvel un
Function ${un}CloseQuorvel
  FindWindow $0 "${MAIN_CLASS}"
  ${If} $0 = 0
    Return
  ${EndIf}
  DetailPrint "実行中の Quorvel を終了します..."
  System::Call 'user32::GetWindowThreadProcessId(p r0, *i .r1) i'
  ; SYNCHRONIZE
  System::Call 'kernel32::OpenProcess(i 0x00100000, i 0, i r1) p .r2'
  System::Call 'user32::PostMessageW(p r0, i ${WM_CLOSE}, p 0, p 0) i'
  ${If} $2 P<> 0
    System::Call 'kernel32::WaitForSingleObject(p r2, i 30000) i .r3'
    System::Call 'kernel32::CloseHandle(p r2) i'
  ${Else}
    ; No handle to wait on: wait for the window to go instead.
    ${For} $3 1 300
      Sleep 100
      FindWindow $0 "${MAIN_CLASS}"
      ${IfThen} $0 = 0 ${|} ${Break} ${|}
    ${Next}
  ${EndIf}
FunctionEnd
!macroend
!insertmacro CloseQuorvel ""
!insertmacro CloseQuorvel "un."

Function StartQuorvel
  SetOutPath "$INSTDIR"
  Exec '"$INSTDIR\quorvel.exe"'
FunctionEnd

Section "Quorvel" SecProgram
  SectionIn RO
  StrCpy $R9 "0"
  Call CloseQuorvel
  SetOutPath "$INSTDIR"
  SetOverwrite try
  !insertmacro ProgramFiles InstallFile
  ${If} $R9 != "0"
    MessageBox MB_ICONSTOP|MB_OK "Quorvel のファイルが使用中のため置き換えられませんでした。$\r$\nQuorvel を終了してから、もう一度セットアップを実行してください。" /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; The working folder of the shortcut is the program's folder.
  CreateShortcut "$SMPROGRAMS\Quorvel.lnk" "$INSTDIR\quorvel.exe" "" "$INSTDIR\quorvel.exe" 0 \
    SW_SHOWNORMAL "" "Vistrel をメールで操作する受信プログラム"

  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Quorvel"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Quorvel プロジェクト"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "URLInfoAbout" "${HOME_PAGE}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\quorvel.exe,0"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

; Unticked, the Run value is left as it is (an upgrade keeps the user's choice).
Section /o "ログオン時に起動する" SecLogon
  WriteRegStr HKCU "${RUN_KEY}" "Quorvel" '${RUN_VALUE}'
SectionEnd

!insertmacro MUI_FUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${SecProgram} "Quorvel の本体、送信ライブラリと操作ガイド。スタートメニューに登録します。"
  !insertmacro MUI_DESCRIPTION_TEXT ${SecLogon} "Windows にログオンしたときに Quorvel を起動します。Quorvel の設定画面でも切り替えられます。"
!insertmacro MUI_FUNCTION_DESCRIPTION_END

Function .onInit
  ; Start at logon is preselected when asked for (/LOGON) or already set.
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/LOGON" $1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${SecLogon}
  ${Else}
    ReadRegStr $1 HKCU "${RUN_KEY}" "Quorvel"
    ${If} $1 != ""
      !insertmacro SelectSection ${SecLogon}
    ${EndIf}
  ${EndIf}
FunctionEnd

; ---- uninstaller ----

Section "un.Quorvel" UnSecProgram
  SectionIn RO
  StrCpy $R9 "0"
  Call un.CloseQuorvel
  !insertmacro ProgramFiles DeleteFile
  ${If} $R9 != "0"
    MessageBox MB_ICONSTOP|MB_OK "Quorvel のファイルが使用中のため削除できませんでした。$\r$\nQuorvel を終了してから、もう一度実行してください。" /SD IDOK
    SetErrorLevel 2
    Abort
  ${EndIf}
  Delete "$SMPROGRAMS\Quorvel.lnk"
  ; The Run value goes only when it starts this copy.
  ReadRegStr $0 HKCU "${RUN_KEY}" "Quorvel"
  StrLen $1 '"$INSTDIR\quorvel.exe"'
  StrCpy $2 $0 $1
  ${If} $2 == '"$INSTDIR\quorvel.exe"'
    DeleteRegValue HKCU "${RUN_KEY}" "Quorvel"
  ${EndIf}
  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  Delete "$INSTDIR\uninstall.exe"
SectionEnd

Section /o "un.設定ファイルとメールログも削除する" UnSecPurge
  !insertmacro UserFiles DeleteFile
  ${If} $R9 != "0"
    SetErrorLevel 2
  ${EndIf}
SectionEnd

; Never recursive: the folder goes only when nothing else is left in it.
Section "-un.folder"
  RMDir "$INSTDIR"
SectionEnd

!insertmacro MUI_UNFUNCTION_DESCRIPTION_BEGIN
  !insertmacro MUI_DESCRIPTION_TEXT ${UnSecProgram} "Quorvel のプログラムファイル、スタートメニューの登録とアンインストール情報を削除します。"
  !insertmacro MUI_DESCRIPTION_TEXT ${UnSecPurge} "quorvel.ini、メールログ、通信ログなどの利用者のファイルも削除します。チェックしなければ残します。"
!insertmacro MUI_UNFUNCTION_DESCRIPTION_END

Function un.onInit
  ${un.GetParameters} $0
  ClearErrors
  ${un.GetOptions} $0 "/PURGE" $1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${UnSecPurge}
  ${EndIf}
FunctionEnd
