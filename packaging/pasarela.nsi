; Pasarela's installer for Windows, built by scripts/release with makensis (Debian's nsis):
;   makensis -INPUTCHARSET UTF8 -DVERSION=1.0.0 -DSTAGE=DIR -DOUTFILE=FILE.exe -DICON=FILE.ico pasarela.nsi
; STAGE holds what the zip holds: Pasarela.exe, pasarela-cli.exe, DASTENO.chm,
; Pasarela-Guia.html (the guide, pictures inside), Pasarela-LEEME.txt (named after Pasarela,
; as Orlavi's folder may have a LEEME.txt of its own).
;
; Per user and without administrator rights: Orlavi starts Pasarela from its own folder and
; reads Orlavi.ini there, which Pasarela writes beside itself, so the folder must be Orlavi's
; and one the user who runs Orlavi can write to; a protected folder such as Program Files
; would not do. The folder page offers Orlavi's folder, warns when the folder chosen holds
; neither Orlavi.exe nor Orlavi.ini, and refuses one that cannot be written to.
; Silent use: setup.exe /S /D=C:\Orlavi (the uninstaller takes /S too).

Unicode true
ManifestDPIAware true
RequestExecutionLevel user
SetCompressor /SOLID lzma

!ifndef VERSION | STAGE | OUTFILE | ICON
  !error "VERSION, STAGE, OUTFILE and ICON must be given with -D"
!endif

!define UNINSTALLER "Desinstalar Pasarela.exe"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Pasarela"
!define SETTINGS_KEY "Software\Pasarela"
!define MENU_FOLDER "$SMPROGRAMS\Pasarela"

Name "Pasarela ${VERSION}"
OutFile "${OUTFILE}"
; Orlavi's folder as our schools have it; an earlier install's folder takes its place.
InstallDir "C:\Orlavi"
InstallDirRegKey HKCU "${SETTINGS_KEY}" "InstallDir"
BrandingText "Pasarela ${VERSION}"

VIProductVersion "${VERSION}.0"
VIFileVersion "${VERSION}.0"

!include MUI2.nsh
!include LogicLib.nsh

!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING

!define MUI_PAGE_HEADER_TEXT "Carpeta de Orlavi"
!define MUI_PAGE_HEADER_SUBTEXT "Pasarela se instala junto a Orlavi.exe y Orlavi.ini."
!define MUI_DIRECTORYPAGE_TEXT_TOP "Elija la carpeta de Orlavi, la que tiene Orlavi.exe y Orlavi.ini. Orlavi inicia Pasarela desde su propia carpeta y lee allí Orlavi.ini, donde Pasarela deja el resultado: en otra carpeta, Orlavi no la encuentra. El usuario que usa Orlavi debe poder escribir en ella. Un Orlavi.ini que ya exista no se toca."
!define MUI_DIRECTORYPAGE_TEXT_DESTINATION "Carpeta de Orlavi"
!define MUI_PAGE_CUSTOMFUNCTION_LEAVE CheckFolder
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!define MUI_FINISHPAGE_SHOWREADME "$INSTDIR\Pasarela-LEEME.txt"
!define MUI_FINISHPAGE_SHOWREADME_TEXT "Leer Pasarela-LEEME.txt"
!insertmacro MUI_PAGE_FINISH

!define MUI_UNCONFIRMPAGE_TEXT_TOP "Pasarela se desinstalará de esta carpeta. Solo se borran los archivos de Pasarela: los de Orlavi, y su Orlavi.ini, se quedan."
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES

!insertmacro MUI_LANGUAGE "Spanish"

; The language file says "directorio"; Windows, and our users, say "carpeta".
LangString ^DirSubCaption ${LANG_SPANISH} ": Carpeta de instalación"
LangString ^UnDirSubCaption ${LANG_SPANISH} ": Carpeta de desinstalación"
LangString ^DirBrowseText ${LANG_SPANISH} "Elija la carpeta de Orlavi:"
LangString ^UnDirBrowseText ${LANG_SPANISH} "Elija la carpeta de la que desinstalar Pasarela:"
LangString ^UninstallingText ${LANG_SPANISH} "Pasarela se desinstalará de esta carpeta. $_CLICK"
LangString ^CreateFolder ${LANG_SPANISH} "Creando carpeta: "
LangString ^OutputFolder ${LANG_SPANISH} "Carpeta de salida: "
LangString ^RemoveFolder ${LANG_SPANISH} "Eliminar carpeta: "

VIAddVersionKey /LANG=${LANG_SPANISH} "ProductName" "Pasarela"
VIAddVersionKey /LANG=${LANG_SPANISH} "FileDescription" "Instalador de Pasarela"
VIAddVersionKey /LANG=${LANG_SPANISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_SPANISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_SPANISH} "LegalCopyright" "Licencias en LEEME.txt"

; Sets the error flag when the user cannot create a file in $INSTDIR (which it creates).
Function TryWritingFolder
  ClearErrors
  CreateDirectory "$INSTDIR"
  IfErrors done
  FileOpen $0 "$INSTDIR\pasarela-prueba.tmp" w
  IfErrors done
  FileClose $0
  Delete "$INSTDIR\pasarela-prueba.tmp"
  done:
FunctionEnd

Function CheckFolder
  ; Orlavi looks for Pasarela in its own folder only: anywhere else, it would not be found.
  ${IfNot} ${FileExists} "$INSTDIR\Orlavi.exe"
  ${AndIfNot} ${FileExists} "$INSTDIR\Orlavi.ini"
    MessageBox MB_YESNO|MB_ICONEXCLAMATION|MB_DEFBUTTON2 "En la carpeta$\r$\n$INSTDIR$\r$\nno están Orlavi.exe ni Orlavi.ini: no parece la carpeta de Orlavi.$\r$\n$\r$\nOrlavi inicia Pasarela desde su propia carpeta y lee allí Orlavi.ini, donde Pasarela deja el resultado. Instalada en otra carpeta, Orlavi no encuentra Pasarela.$\r$\n$\r$\n¿Instalar Pasarela en esta carpeta de todos modos?" IDYES orlavi_checked
    Abort
  ${EndIf}
  orlavi_checked:
  Call TryWritingFolder
  ${If} ${Errors}
    MessageBox MB_OK|MB_ICONEXCLAMATION "No se puede escribir en la carpeta$\r$\n$INSTDIR$\r$\n$\r$\nPasarela guarda Orlavi.ini a su lado, así que necesita una carpeta en la que se pueda escribir. Elija otra o pida permiso al administrador del equipo."
    Abort
  ${EndIf}
FunctionEnd

Section "Pasarela" SectionPasarela
  ; A silent install skips the folder page, so the check is repeated here.
  Call TryWritingFolder
  ${If} ${Errors}
    SetErrorLevel 2
    Abort "No se puede escribir en la carpeta $INSTDIR."
  ${EndIf}

  SetOutPath "$INSTDIR"
  SetOverwrite on
  File "${STAGE}\Pasarela.exe"
  File "${STAGE}\pasarela-cli.exe"
  File "${STAGE}\DASTENO.chm"
  File "${STAGE}\Pasarela-Guia.html"
  File "${STAGE}\Pasarela-LEEME.txt"
  ; Orlavi.ini is Orlavi's (and holds its settings): it is neither shipped nor touched.
  WriteUninstaller "$INSTDIR\${UNINSTALLER}"

  CreateDirectory "${MENU_FOLDER}"
  CreateShortcut "${MENU_FOLDER}\Pasarela.lnk" "$INSTDIR\Pasarela.exe"
  CreateShortcut "${MENU_FOLDER}\Ayuda de Pasarela.lnk" "$INSTDIR\DASTENO.chm"
  CreateShortcut "${MENU_FOLDER}\Guía de Pasarela.lnk" "$INSTDIR\Pasarela-Guia.html"
  CreateShortcut "${MENU_FOLDER}\Desinstalar Pasarela.lnk" "$INSTDIR\${UNINSTALLER}"

  WriteRegStr HKCU "${SETTINGS_KEY}" "InstallDir" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayName" "Pasarela"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "Publisher" "Pasarela"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Pasarela.exe"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKCU "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\${UNINSTALLER}"'
  WriteRegStr HKCU "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\${UNINSTALLER}" /S'
  ; Only Pasarela's own files, in KiB: the folder holds Orlavi's too.
  SectionGetSize ${SectionPasarela} $0
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "EstimatedSize" $0
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKCU "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  ; Only Pasarela's own files go: the folder is usually Orlavi's, and Orlavi.ini, the
  ; tables in C:\VTEMP and the reports there stay.
  Delete "$INSTDIR\Pasarela.exe"
  Delete "$INSTDIR\pasarela-cli.exe"
  Delete "$INSTDIR\DASTENO.chm"
  Delete "$INSTDIR\Pasarela-Guia.html"
  Delete "$INSTDIR\Pasarela-LEEME.txt"
  Delete "$INSTDIR\${UNINSTALLER}"
  RMDir "$INSTDIR"  ; only when nothing else is left in it

  Delete "${MENU_FOLDER}\Pasarela.lnk"
  Delete "${MENU_FOLDER}\Ayuda de Pasarela.lnk"
  Delete "${MENU_FOLDER}\Guía de Pasarela.lnk"
  Delete "${MENU_FOLDER}\Desinstalar Pasarela.lnk"
  RMDir "${MENU_FOLDER}"

  DeleteRegKey HKCU "${UNINSTALL_KEY}"
  DeleteRegKey HKCU "${SETTINGS_KEY}"
SectionEnd
