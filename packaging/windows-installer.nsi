; The per-user Windows installer, built by makensis from the zip's staged folder (see
; packaging/windows-installer.cmake, which defines the symbols below and writes the file lists).
; It needs no administrator: the programs go into the user's own programs folder, the Start menu entries,
; the PATH entry and the "Apps" entry into the user's part of the system. The user's settings
; (HKCU\Software\Calvadra\tessor-configurator) are left alone unless the uninstaller is asked to remove
; them (the component "Remove my settings", or /PURGE on its command line).
;
;   VERSION       the program's version (1.0.0)          FILE_VERSION  the same with four numbers
;   STAGE         the staged folder                      OUTFILE       the installer to write
;   FILES_NSH     File commands for the staged files     UNFILES_NSH   Delete/RMDir commands for them
;   ICON          the program's icon                     SIGN          (optional) the command that signs
;                                                                      a file in place, %1 its name
;   COMPRESSOR    (optional) instead of solid LZMA (a quicker one for test builds)
;
; Command line: /S silent; /ADDTOPATH also puts tessor-cli on the user's PATH; /D=folder the folder (last).
; Uninstaller:  /S silent; /PURGE also removes the settings.

Unicode true
Target amd64-unicode
!ifndef COMPRESSOR
    !define COMPRESSOR "/SOLID lzma"
!endif
SetCompressor ${COMPRESSOR}
RequestExecutionLevel user
ManifestDPIAware true

!define PRODUCT "Tessor Console Configurator"
!define APP_KEY "tessor-configurator"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\${APP_KEY}"
!define SETTINGS_KEY "Software\Calvadra\tessor-configurator"
!define ENVIRONMENT_KEY "Environment"
!define UNINSTALLER "Uninstall.exe"

!ifdef SIGN
    !finalize '${SIGN}'
    !uninstfinalize '${SIGN}'
!endif

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include WordFunc.nsh
!include Sections.nsh
!include WinMessages.nsh

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir "$LOCALAPPDATA\Programs\${PRODUCT}"
InstallDirRegKey HKCU "${UNINSTALL_KEY}" "InstallLocation"
BrandingText "${PRODUCT} ${VERSION}"

VIProductVersion "${FILE_VERSION}"
VIFileVersion "${FILE_VERSION}"
VIAddVersionKey /LANG=1033 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=1033 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=1033 "CompanyName" "Calvadra"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (C) 2026 Calvadra. MIT License."
VIAddVersionKey /LANG=1033 "FileDescription" "${PRODUCT} ${VERSION} setup"

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
!define MUI_COMPONENTSPAGE_NODESC
!define MUI_FINISHPAGE_RUN "$INSTDIR\tessor-configurator.exe"
!define MUI_FINISHPAGE_RUN_TEXT "Start ${PRODUCT}"

!insertmacro MUI_PAGE_COMPONENTS
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_COMPONENTS
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

; A PATH longer than this may have been cut short when read (the installer's strings hold 1024
; characters); it is then left alone rather than written back shortened.
!define PATH_LIMIT 1000

; $0 in: a folder; $1 in: the user's PATH; $2 out: the PATH without that folder (every entry that names it,
; in any case). Both installer and uninstaller need it.
!macro PATH_WITHOUT un
Function ${un}PathWithout
    Push $3
    StrCpy $3 ";$1;"
    ${${un}WordReplace} "$3" ";$0;" ";" "+" $3
    ${${un}WordReplace} "$3" ";$0\;" ";" "+" $3
    ; The wrapping semicolons off again (the first and the last character).
    StrCpy $3 $3 "" 1
    StrCpy $3 $3 -1
    StrCpy $2 $3
    Pop $3
FunctionEnd
!macroend
!insertmacro PATH_WITHOUT ""
!insertmacro PATH_WITHOUT "un."

Function AddCliToPath
    ReadRegStr $1 HKCU "${ENVIRONMENT_KEY}" "Path"
    StrLen $2 $1
    ${If} $2 > ${PATH_LIMIT}
        DetailPrint "Your PATH is too long to change safely; add $INSTDIR to it yourself."
        MessageBox MB_OK|MB_ICONEXCLAMATION \
            "Your PATH is too long to change safely; add $INSTDIR to it yourself." /SD IDOK
        Return
    ${EndIf}
    StrCpy $0 $INSTDIR
    Call PathWithout
    ${If} $2 != $1
        DetailPrint "$INSTDIR is on your PATH already"
    ${ElseIf} $1 == ""
        WriteRegExpandStr HKCU "${ENVIRONMENT_KEY}" "Path" "$INSTDIR"
    ${Else}
        WriteRegExpandStr HKCU "${ENVIRONMENT_KEY}" "Path" "$1;$INSTDIR"
    ${EndIf}
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "CliOnPath" 1
    SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
FunctionEnd

Function un.RemoveCliFromPath
    ReadRegStr $1 HKCU "${ENVIRONMENT_KEY}" "Path"
    StrLen $2 $1
    ${If} $2 > ${PATH_LIMIT}
        DetailPrint "Your PATH is too long to change safely; remove $INSTDIR from it yourself."
        Return
    ${EndIf}
    StrCpy $0 $INSTDIR
    Call un.PathWithout
    ${If} $2 == $1
        Return
    ${ElseIf} $2 == ""
        DeleteRegValue HKCU "${ENVIRONMENT_KEY}" "Path"
    ${Else}
        WriteRegExpandStr HKCU "${ENVIRONMENT_KEY}" "Path" "$2"
    ${EndIf}
    SendMessage ${HWND_BROADCAST} ${WM_SETTINGCHANGE} 0 "STR:Environment" /TIMEOUT=5000
FunctionEnd

; An earlier version in the same place is removed with its own uninstaller first (silently, the settings
; kept), so that no file of it stays behind; its uninstaller waits in place (_?=) and is deleted after.
Function RemoveEarlierVersion
    ReadRegStr $0 HKCU "${UNINSTALL_KEY}" "InstallLocation"
    ${If} $0 == ""
    ${OrIfNot} ${FileExists} "$0\${UNINSTALLER}"
        Return
    ${EndIf}
    DetailPrint "Removing the version installed in $0 (your settings stay)"
    ClearErrors
    ExecWait '"$0\${UNINSTALLER}" /S _?=$0' $1
    ${If} ${Errors}
    ${OrIf} $1 != 0
        DetailPrint "The earlier version's uninstaller failed ($1); its files are replaced"
    ${EndIf}
    Delete "$0\${UNINSTALLER}"
    RMDir "$0"
FunctionEnd

Section "${PRODUCT}" SecProgram
    SectionIn RO
    Call RemoveEarlierVersion
    SetOutPath "$INSTDIR"
    !include "${FILES_NSH}"
    WriteUninstaller "$INSTDIR\${UNINSTALLER}"

    ; The Start menu entries; the program starts in the user's Documents, where its file dialogs open.
    CreateDirectory "$SMPROGRAMS\${PRODUCT}"
    SetOutPath "$DOCUMENTS"
    CreateShortCut "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk" "$INSTDIR\tessor-configurator.exe" "" \
        "$INSTDIR\tessor-configurator.exe" 0
    CreateShortCut "$SMPROGRAMS\${PRODUCT}\${PRODUCT} Help.lnk" "$INSTDIR\Help\index.htm"
    SetOutPath "$INSTDIR"

    ; The user's "Apps" entry.
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Calvadra"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\tessor-configurator.exe"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
    WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
    WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
    WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
    DeleteRegValue HKCU "${UNINSTALL_KEY}" "CliOnPath"
SectionEnd

Section /o "tessor-cli on my PATH" SecPath
    Call AddCliToPath
SectionEnd

Function .onInit
    ; The PATH entry when asked on the command line, or when the version installed now has one.
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/ADDTOPATH" $1
    ${IfNot} ${Errors}
        !insertmacro SelectSection ${SecPath}
    ${EndIf}
    ReadRegDWORD $1 HKCU "${UNINSTALL_KEY}" "CliOnPath"
    ${If} $1 == 1
        !insertmacro SelectSection ${SecPath}
    ${EndIf}
FunctionEnd

Section "un.${PRODUCT}" UnSecProgram
    SectionIn RO
    ReadRegDWORD $0 HKCU "${UNINSTALL_KEY}" "CliOnPath"
    ${If} $0 == 1
        Call un.RemoveCliFromPath
    ${EndIf}
    Delete "$SMPROGRAMS\${PRODUCT}\${PRODUCT}.lnk"
    Delete "$SMPROGRAMS\${PRODUCT}\${PRODUCT} Help.lnk"
    RMDir "$SMPROGRAMS\${PRODUCT}"
    ; Exactly the files installed; a folder only when it is then empty, so files of the user's stay.
    !include "${UNFILES_NSH}"
    Delete "$INSTDIR\${UNINSTALLER}"
    SetOutPath "$TEMP"
    RMDir "$INSTDIR"
    DeleteRegKey HKCU "${UNINSTALL_KEY}"
SectionEnd

Section /o "un.Remove my settings" UnSecSettings
    DeleteRegKey HKCU "${SETTINGS_KEY}"
    DeleteRegKey /ifempty HKCU "Software\Calvadra"
SectionEnd

Function un.onInit
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/PURGE" $1
    ${IfNot} ${Errors}
        !insertmacro SelectSection ${UnSecSettings}
    ${EndIf}
FunctionEnd
