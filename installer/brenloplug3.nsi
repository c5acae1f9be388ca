; Setup of BrenloPlug3 for Winamp users: finds Winamp's folder, puts gen_brenloplug3.dll into its
; Plugins folder, installs the chosen language file into the Windows folder (the plug-in opens
; "brenloplug_language.ini" by its bare name, so Windows looks for it there) and registers an
; uninstaller in the system's list of programs.
;
; Built by CMake (target "installer" of the win32 preset) and by scripts/release.sh:
;   makensis -DVERSION=3.0.0 -DPLUGIN_DLL=.../gen_brenloplug3.dll -DLANG_DIR=.../lang
;            -DOUTFILE=.../BrenloPlug3-3.0.0-setup.exe brenloplug3.nsi
;
; Setup command line:        [/S] [/LANGUAGE=de|en] [/D=Winamp folder]   (/D last, no quotes)
; Uninstaller command line:  [/S] [/REMOVESETTINGS]
; Exit codes: 0 done; 1 cancelled by the user; 2 refused (Winamp is running, the folder is not
; Winamp's, an unknown /LANGUAGE value). A refusal writes nothing.
;
; The script is plain ASCII: umlauts are written as ${U+00FC} and the like.

Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel admin
ManifestDPIAware true

!ifndef VERSION | PLUGIN_DLL | LANG_DIR | OUTFILE
!error "VERSION, PLUGIN_DLL, LANG_DIR and OUTFILE must be given with -D"
!endif

!include MUI2.nsh
!include LogicLib.nsh
!include FileFunc.nsh
!include nsDialogs.nsh

!define PRODUCT "BrenloPlug3"
!define MAKER "BrenlosTools"
!define DESCRIPTION "BrenloPlug, Bringt Musik ins AOL"
!define DLL_NAME "gen_brenloplug3.dll"
!define LANGUAGE_FILE "brenloplug_language.ini"
!define UNINSTALLER "uninstall_brenloplug3.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\BrenloPlug3"
!define SETTINGS_KEY "Software\BrenlosTools\BrenloPlug3"
!define MAKER_KEY "Software\BrenlosTools"
; Where Winamp's own setup records its folder, and its main window's class.
!define WINAMP_KEY "Software\Winamp"
!define WINAMP_UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Winamp"
!define WINAMP_WINDOW_CLASS "Winamp v1.x"

!define a "${U+00E4}"
!define o "${U+00F6}"
!define u "${U+00FC}"
!define ss "${U+00DF}"

Name "${PRODUCT}"
OutFile "${OUTFILE}"
InstallDir ""
BrandingText "${PRODUCT} ${VERSION}"
ShowInstDetails show
ShowUninstDetails show
AllowSkipFiles off

Var PluginLanguage      ; "de" or "en": which language file is installed
Var LanguageGerman      ; radio buttons of the language page
Var LanguageEnglish
Var RemoveSettings      ; uninstaller: 1 when /REMOVESETTINGS was given

; ---- pages --------------------------------------------------------------------------------------
!define MUI_ABORTWARNING
!define MUI_WELCOMEPAGE_TEXT "$(WelcomeText)"
!insertmacro MUI_PAGE_WELCOME
!define MUI_DIRECTORYPAGE_TEXT_TOP "$(DirectoryText)"
!define MUI_DIRECTORYPAGE_TEXT_DESTINATION "$(DirectoryDestination)"
!insertmacro MUI_PAGE_DIRECTORY
Page custom LanguagePageCreate LanguagePageLeave
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_TEXT "$(FinishText)"
!insertmacro MUI_PAGE_FINISH

!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "German"
!insertmacro MUI_LANGUAGE "English"

; ---- texts --------------------------------------------------------------------------------------
LangString WelcomeText ${LANG_GERMAN} "Dieses Setup installiert ${PRODUCT} ${VERSION} in Winamp. Das Plug-in k${u}ndigt Ihre Songs in den Chatr${a}umen von AOL an.$\r$\n$\r$\nBitte beenden Sie Winamp, bevor Sie fortfahren.$\r$\n$\r$\nKlicken Sie auf Weiter, um fortzufahren."
LangString WelcomeText ${LANG_ENGLISH} "This setup installs ${PRODUCT} ${VERSION} into Winamp. The plug-in announces your songs in AOL's chat rooms.$\r$\n$\r$\nPlease close Winamp before you continue.$\r$\n$\r$\nClick Next to continue."
LangString DirectoryText ${LANG_GERMAN} "Das Plug-in wird in den Ordner $\"Plugins$\" von Winamp installiert. Ist unten nicht der Ordner angegeben, in dem Winamp installiert ist (er enth${a}lt winamp.exe), w${a}hlen Sie ihn bitte mit Durchsuchen."
LangString DirectoryText ${LANG_ENGLISH} "The plug-in goes into Winamp's $\"Plugins$\" folder. If the folder below is not the one Winamp is installed in (it holds winamp.exe), please choose it with Browse."
LangString DirectoryDestination ${LANG_GERMAN} "Winamp-Ordner"
LangString DirectoryDestination ${LANG_ENGLISH} "Winamp folder"
LangString LanguagePageTitle ${LANG_GERMAN} "Sprache des Plug-ins"
LangString LanguagePageTitle ${LANG_ENGLISH} "Language of the plug-in"
LangString LanguagePageSubtitle ${LANG_GERMAN} "In welcher Sprache soll ${PRODUCT} seine Texte zeigen?"
LangString LanguagePageSubtitle ${LANG_ENGLISH} "Which language should ${PRODUCT} show its texts in?"
LangString LanguagePageText ${LANG_GERMAN} "Die Beschriftungen des Konfigurationsdialogs, die Texte des Dateiservers und die Frage beim ersten Start kommen aus der Sprachdatei ${LANGUAGE_FILE}. Sie wird im Windows-Ordner installiert, wo das Plug-in sie sucht."
LangString LanguagePageText ${LANG_ENGLISH} "The captions of the configuration dialog, the texts of the file server and the question at the first start come from the language file ${LANGUAGE_FILE}. It is installed into the Windows folder, where the plug-in looks for it."
LangString FinishText ${LANG_GERMAN} "${PRODUCT} ist installiert. Beim n${a}chsten Start von Winamp fragt das Plug-in, ob Sie es gleich einrichten m${o}chten; sp${a}ter erreichen Sie die Einstellungen ${u}ber die Plug-in-Einstellungen von Winamp."
LangString FinishText ${LANG_ENGLISH} "${PRODUCT} is installed. When Winamp starts next, the plug-in asks whether you want to configure it now; later the settings are reached through Winamp's plug-in preferences."
LangString WinampRunning ${LANG_GERMAN} "Winamp l${a}uft noch. Solange Winamp l${a}uft, kann ${DLL_NAME} nicht ersetzt werden.$\r$\n$\r$\nBitte beenden Sie Winamp und klicken Sie dann auf Wiederholen."
LangString WinampRunning ${LANG_ENGLISH} "Winamp is running. While it runs, ${DLL_NAME} cannot be replaced.$\r$\n$\r$\nPlease close Winamp, then click Retry."
LangString NotWinampFolder ${LANG_GERMAN} "In $INSTDIR ist Winamp nicht installiert (winamp.exe fehlt)."
LangString NotWinampFolder ${LANG_ENGLISH} "Winamp is not installed in $INSTDIR (winamp.exe is missing)."
LangString BadLanguageOption ${LANG_GERMAN} "Unbekannte Sprache bei /LANGUAGE= (m${o}glich sind de und en)."
LangString BadLanguageOption ${LANG_ENGLISH} "Unknown language in /LANGUAGE= (de and en are possible)."
LangString UninstallWinampRunning ${LANG_GERMAN} "Winamp l${a}uft noch. Solange Winamp l${a}uft, kann ${DLL_NAME} nicht entfernt werden.$\r$\n$\r$\nBitte beenden Sie Winamp und klicken Sie dann auf Wiederholen."
LangString UninstallWinampRunning ${LANG_ENGLISH} "Winamp is running. While it runs, ${DLL_NAME} cannot be removed.$\r$\n$\r$\nPlease close Winamp, then click Retry."
LangString RemoveSettingsQuestion ${LANG_GERMAN} "Sollen auch Ihre Einstellungen von ${PRODUCT} gel${o}scht werden?$\r$\n$\r$\nMit Nein bleiben sie f${u}r eine sp${a}tere Installation erhalten."
LangString RemoveSettingsQuestion ${LANG_ENGLISH} "Do you want to delete your ${PRODUCT} settings as well?$\r$\n$\r$\nWith No they are kept for a later installation."

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"
VIAddVersionKey /LANG=${LANG_GERMAN} "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=${LANG_GERMAN} "CompanyName" "${MAKER}"
VIAddVersionKey /LANG=${LANG_GERMAN} "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=${LANG_GERMAN} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_GERMAN} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_GERMAN} "LegalCopyright" "${U+00A9} ${MAKER}"

; ---- shared by setup and uninstaller ------------------------------------------------------------
; Winamp keeps gen_brenloplug3.dll loaded while it runs: ask to close it, or give up (silent: give
; up at once) before anything is written.
!macro RefuseWhileWinampRuns UN TEXT
Function ${UN}RefuseWhileWinampRuns
    retry:
    FindWindow $0 "${WINAMP_WINDOW_CLASS}"
    ${If} $0 <> 0
        DetailPrint "$(${TEXT})"
        MessageBox MB_RETRYCANCEL|MB_ICONEXCLAMATION "$(${TEXT})" /SD IDCANCEL IDRETRY retry
        SetErrorLevel 2
        Abort
    ${EndIf}
FunctionEnd
!macroend
!insertmacro RefuseWhileWinampRuns "" WinampRunning
!insertmacro RefuseWhileWinampRuns "un." UninstallWinampRunning

; ---- setup --------------------------------------------------------------------------------------
; Winamp's folder as Winamp's setup records it: the default value of HKCU\Software\Winamp, else
; the folder of its uninstaller, else the usual folder under Program Files. Nothing found: the
; directory page asks (and accepts only a folder holding winamp.exe).
Function FindWinamp
    ReadRegStr $0 HKCU "${WINAMP_KEY}" ""
    ${If} $0 != ""
    ${AndIf} ${FileExists} "$0\winamp.exe"
        StrCpy $INSTDIR $0
        Return
    ${EndIf}
    ReadRegStr $0 HKLM "${WINAMP_UNINSTALL_KEY}" "UninstallString"
    ${If} $0 != ""
        StrCpy $1 $0 1
        ${If} $1 == '"'
            StrCpy $0 $0 "" 1
            StrCpy $1 $0 1 -1
            ${If} $1 == '"'
                StrCpy $0 $0 -1
            ${EndIf}
        ${EndIf}
        ${GetParent} $0 $0
        ${If} ${FileExists} "$0\winamp.exe"
            StrCpy $INSTDIR $0
            Return
        ${EndIf}
    ${EndIf}
    StrCpy $INSTDIR "$PROGRAMFILES\Winamp"
FunctionEnd

Function .onInit
    ${If} $LANGUAGE = ${LANG_GERMAN}
        StrCpy $PluginLanguage "de"
    ${Else}
        StrCpy $PluginLanguage "en"
    ${EndIf}
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/LANGUAGE=" $1
    ${IfNot} ${Errors}
        ${If} $1 == "de"
        ${OrIf} $1 == "deutsch"
        ${OrIf} $1 == "german"
            StrCpy $PluginLanguage "de"
        ${ElseIf} $1 == "en"
        ${OrIf} $1 == "english"
            StrCpy $PluginLanguage "en"
        ${Else}
            MessageBox MB_OK|MB_ICONSTOP "$(BadLanguageOption)" /SD IDOK
            SetErrorLevel 2
            Quit
        ${EndIf}
    ${EndIf}
    ; /D=folder sets the folder before this runs; otherwise look for Winamp.
    ${If} $INSTDIR == ""
        Call FindWinamp
    ${EndIf}
FunctionEnd

Function .onVerifyInstDir
    ${IfNot} ${FileExists} "$INSTDIR\winamp.exe"
        Abort
    ${EndIf}
FunctionEnd

Function LanguagePageCreate
    !insertmacro MUI_HEADER_TEXT "$(LanguagePageTitle)" "$(LanguagePageSubtitle)"
    nsDialogs::Create 1018
    Pop $0
    ${If} $0 == error
        Abort
    ${EndIf}
    ${NSD_CreateLabel} 0 0 100% 36u "$(LanguagePageText)"
    Pop $0
    ${NSD_CreateRadioButton} 12u 48u 90% 12u "Deutsch"
    Pop $LanguageGerman
    ${NSD_AddStyle} $LanguageGerman ${WS_GROUP}
    ${NSD_CreateRadioButton} 12u 64u 90% 12u "English"
    Pop $LanguageEnglish
    ${If} $PluginLanguage == "de"
        ${NSD_Check} $LanguageGerman
        ${NSD_SetFocus} $LanguageGerman
    ${Else}
        ${NSD_Check} $LanguageEnglish
        ${NSD_SetFocus} $LanguageEnglish
    ${EndIf}
    nsDialogs::Show
FunctionEnd

Function LanguagePageLeave
    ${NSD_GetState} $LanguageGerman $0
    ${If} $0 == ${BST_CHECKED}
        StrCpy $PluginLanguage "de"
    ${Else}
        StrCpy $PluginLanguage "en"
    ${EndIf}
    ; Tell about a running Winamp here already, while the user can still go back.
    FindWindow $0 "${WINAMP_WINDOW_CLASS}"
    ${If} $0 <> 0
        MessageBox MB_OK|MB_ICONEXCLAMATION "$(WinampRunning)"
        Abort
    ${EndIf}
FunctionEnd

Section "-${PRODUCT}"
    ${IfNot} ${FileExists} "$INSTDIR\winamp.exe"
        DetailPrint "$(NotWinampFolder)"
        MessageBox MB_OK|MB_ICONSTOP "$(NotWinampFolder)" /SD IDOK
        SetErrorLevel 2
        Abort
    ${EndIf}
    Call RefuseWhileWinampRuns

    SetOverwrite on
    SetOutPath "$INSTDIR\Plugins"
    File "/oname=${DLL_NAME}" "${PLUGIN_DLL}"
    SetOutPath "$WINDIR"
    ${If} $PluginLanguage == "de"
        File "/oname=${LANGUAGE_FILE}" "${LANG_DIR}/german/${LANGUAGE_FILE}"
    ${Else}
        File "/oname=${LANGUAGE_FILE}" "${LANG_DIR}/english/${LANGUAGE_FILE}"
    ${EndIf}
    SetOutPath "$INSTDIR\Plugins"

    WriteUninstaller "$INSTDIR\Plugins\${UNINSTALLER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT} (Winamp-Plug-in)"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${MAKER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Comments" "${DESCRIPTION}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR\Plugins"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Plugins\${UNINSTALLER}"
    WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Plugins\${UNINSTALLER}"'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Plugins\${UNINSTALLER}" /S'
    WriteRegStr HKLM "${UNINSTALL_KEY}" "Language" "$PluginLanguage"
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
    ${GetSize} "$INSTDIR\Plugins" "/M=${DLL_NAME} /S=0K /G=0" $0 $1 $2
    IntOp $0 $0 + 8  ; the language file and the uninstaller's share
    WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
SectionEnd

; ---- uninstaller --------------------------------------------------------------------------------
Function un.onInit
    StrCpy $RemoveSettings 0
    ${GetParameters} $0
    ClearErrors
    ${GetOptions} $0 "/REMOVESETTINGS" $1
    ${IfNot} ${Errors}
        StrCpy $RemoveSettings 1
    ${EndIf}
FunctionEnd

; $INSTDIR is the folder of the uninstaller: Winamp's Plugins folder.
Section "Uninstall"
    Call un.RefuseWhileWinampRuns

    Delete "$INSTDIR\${DLL_NAME}"
    Delete "$WINDIR\${LANGUAGE_FILE}"
    Delete "$INSTDIR\${UNINSTALLER}"
    DeleteRegKey HKLM "${UNINSTALL_KEY}"

    ; The user's settings go only when the user agrees (silent: only with /REMOVESETTINGS).
    ClearErrors
    EnumRegKey $0 HKCU "${SETTINGS_KEY}" 0
    ${IfNot} ${Errors}
        ${If} $RemoveSettings <> 1
            MessageBox MB_YESNO|MB_ICONQUESTION|MB_DEFBUTTON2 "$(RemoveSettingsQuestion)" /SD IDNO IDNO keep
        ${EndIf}
        DeleteRegKey HKCU "${SETTINGS_KEY}"
        DeleteRegKey /ifempty HKCU "${MAKER_KEY}"
        keep:
    ${EndIf}
SectionEnd
