; The Windows installer of ZIriRAV Convert (NSIS 3, 64-bit, Unicode).
;
;   makensis -DVERSION=1.0 -DSTAGE=<folder with the programs and KP.dbd> -DOUTFILE=<setup.exe> installer.nsi
;
; For the current user without administrator rights (the default: into
; %LOCALAPPDATA%\Programs\ZIriRAV Convert), or for all users with them (into
; Program Files: /AllUsers on the command line, or the first page). /S installs
; silently. The uninstaller removes every file and registry key it put there.
Unicode true
Target amd64-unicode
SetCompressor /SOLID lzma
ManifestDPIAware true

!ifndef VERSION
  !error "VERSION is not defined"
!endif
!ifndef ICON
  !error "ICON is not defined"
!endif
!ifndef STAGE
  !error "STAGE is not defined"
!endif
!ifndef OUTFILE
  !define OUTFILE "zirirav-convert-${VERSION}-win64-setup.exe"
!endif

!define PRODUCT "ZIriRAV Convert"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\ZIriRAVConvert"
!define PROGID "ZIriRAVConvert.ControlFile"

!define MULTIUSER_EXECUTIONLEVEL Highest
!define MULTIUSER_INSTALLMODE_DEFAULT_CURRENTUSER
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_INSTALLMODE_INSTDIR "${PRODUCT}"
!define MULTIUSER_USE_PROGRAMFILES64
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_VALUENAME "InstallMode"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_VALUENAME "InstallLocation"
!define MULTIUSER_MUI
!include MultiUser.nsh
!include MUI2.nsh

Name "${PRODUCT}"
OutFile "${OUTFILE}"
BrandingText "${PRODUCT} ${VERSION}"
!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"

VIProductVersion "${VERSION}.0.0"
VIAddVersionKey /LANG=0 "ProductName" "${PRODUCT}"
VIAddVersionKey /LANG=0 "FileDescription" "${PRODUCT} Setup"
VIAddVersionKey /LANG=0 "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=0 "CompanyName" "${PRODUCT}"
VIAddVersionKey /LANG=0 "LegalCopyright" "${PRODUCT}"

!insertmacro MULTIUSER_PAGE_INSTALLMODE
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "Japanese"
!insertmacro MUI_LANGUAGE "English"

Function .onInit
  SetRegView 64
  !insertmacro MULTIUSER_INIT
FunctionEnd

Function un.onInit
  SetRegView 64
  !insertmacro MULTIUSER_UNINIT
FunctionEnd

Section "Install"
  SetOutPath "$INSTDIR"
  File "${STAGE}\ctl2mdb.exe"
  File "${STAGE}\jet-check.exe"
  File "${STAGE}\jet-compact.exe"
  File "${STAGE}\KP.dbd"
  File "${STAGE}\README.txt"
!ifdef WINDOW
  File "${STAGE}\zirirav-convert.exe"
  ; The Start-menu entry, and "Open with" for the control file DEFAULT.CTL.
  CreateShortcut "$SMPROGRAMS\${PRODUCT}.lnk" "$INSTDIR\zirirav-convert.exe"
  WriteRegStr SHCTX "Software\Classes\${PROGID}" "" "Kestrelpad control file"
  WriteRegStr SHCTX "Software\Classes\${PROGID}\DefaultIcon" "" "$INSTDIR\zirirav-convert.exe,0"
  WriteRegStr SHCTX "Software\Classes\${PROGID}\shell\open\command" "" '"$INSTDIR\zirirav-convert.exe" "%1"'
  WriteRegStr SHCTX "Software\Classes\.ctl\OpenWithProgids" "${PROGID}" ""
  WriteRegStr SHCTX "Software\Classes\Applications\zirirav-convert.exe\shell\open\command" "" '"$INSTDIR\zirirav-convert.exe" "%1"'
  WriteRegStr SHCTX "Software\Classes\Applications\zirirav-convert.exe\SupportedTypes" ".ctl" ""
  WriteRegStr SHCTX "Software\Classes\Applications\zirirav-convert.exe" "FriendlyAppName" "${PRODUCT}"
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
!endif
  WriteUninstaller "$INSTDIR\uninstall.exe"

  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayName" "${PRODUCT}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "Publisher" "${PRODUCT}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "InstallMode" "$MultiUser.InstallMode"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode /S'
!ifdef WINDOW
  WriteRegStr SHCTX "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\zirirav-convert.exe,0"
!endif
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section "Uninstall"
  Delete "$INSTDIR\ctl2mdb.exe"
  Delete "$INSTDIR\jet-check.exe"
  Delete "$INSTDIR\jet-compact.exe"
  Delete "$INSTDIR\zirirav-convert.exe"
  Delete "$INSTDIR\KP.dbd"
  Delete "$INSTDIR\README.txt"
  ; The work file the programs keep in their own folder when it is writable.
  Delete "$INSTDIR\WorkDB.tmp"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  ; %LOCALAPPDATA%\Programs, made by the install when it was the first there.
  ${If} $MultiUser.InstallMode == "CurrentUser"
    RMDir "$INSTDIR\.."
  ${EndIf}

  Delete "$SMPROGRAMS\${PRODUCT}.lnk"
  DeleteRegKey SHCTX "Software\Classes\${PROGID}"
  DeleteRegValue SHCTX "Software\Classes\.ctl\OpenWithProgids" "${PROGID}"
  DeleteRegKey /ifempty SHCTX "Software\Classes\.ctl\OpenWithProgids"
  DeleteRegKey /ifempty SHCTX "Software\Classes\.ctl"
  DeleteRegKey SHCTX "Software\Classes\Applications\zirirav-convert.exe"
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
  System::Call 'shell32::SHChangeNotify(i 0x08000000, i 0, p 0, p 0)'
SectionEnd
