; SPDX-License-Identifier: GPL-3.0-or-later
; The Windows installer of Tavrene, made by the windows_package target (windows.cmake), which
; passes VERSION, PUBLISHER, STAGE (the folder of the files to install), ICON and OUTFILE.
; Per-machine or per-user, chosen on a page or with /AllUsers or /CurrentUser; /S for silence.
Unicode true
; 64-bit stub: the programs are 64-bit, and it runs where only 64-bit Wine is installed.
Target amd64-unicode
SetCompressor /SOLID lzma
ManifestSupportedOS all

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Tavrene"
!define MULTIUSER_EXECUTIONLEVEL Highest
!define MULTIUSER_MUI
!define MULTIUSER_INSTALLMODE_COMMANDLINE
!define MULTIUSER_INSTALLMODE_INSTDIR Tavrene
!define MULTIUSER_USE_PROGRAMFILES64
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_INSTDIR_REGISTRY_VALUENAME InstallLocation
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_KEY "${UNINSTALL_KEY}"
!define MULTIUSER_INSTALLMODE_DEFAULT_REGISTRY_VALUENAME InstallLocation
!include MultiUser.nsh
!include MUI2.nsh
!include FileFunc.nsh

Name "Tavrene ${VERSION}"
OutFile "${OUTFILE}"
BrandingText "Tavrene ${VERSION}"
!define MUI_ICON "${ICON}"
!define MUI_UNICON "${ICON}"
!define MUI_ABORTWARNING
; The GPL asks for no acceptance: the page informs, Next goes on.
!define MUI_LICENSEPAGE_BUTTON $(^NextBtn)
!define MUI_LICENSEPAGE_TEXT_BOTTOM "Tavrene is free software; you may use it without accepting anything."

!insertmacro MUI_PAGE_LICENSE "${STAGE}\LICENSE.txt"
!insertmacro MULTIUSER_PAGE_INSTALLMODE
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE English

VIProductVersion ${VERSION}.0
VIFileVersion ${VERSION}.0
VIAddVersionKey /LANG=${LANG_ENGLISH} ProductName Tavrene
VIAddVersionKey /LANG=${LANG_ENGLISH} ProductVersion ${VERSION}
VIAddVersionKey /LANG=${LANG_ENGLISH} FileVersion ${VERSION}
VIAddVersionKey /LANG=${LANG_ENGLISH} FileDescription "Tavrene ${VERSION} installer"
VIAddVersionKey /LANG=${LANG_ENGLISH} CompanyName "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_ENGLISH} LegalCopyright "GNU General Public License, version 3 or later"

; Everything the installer puts into $INSTDIR, so that the uninstaller removes the same list.
!macro TAVRENE_FILES ACTION
  !insertmacro ${ACTION} tavrene.exe
  !insertmacro ${ACTION} tavrene-meter.exe
  !insertmacro ${ACTION} README.txt
  !insertmacro ${ACTION} LICENSE.txt
!macroend
!macro INSTALL_FILE NAME
  File "${STAGE}\${NAME}"
!macroend
!macro REMOVE_FILE NAME
  Delete "$INSTDIR\${NAME}"
!macroend

Function .onInit
  !insertmacro MULTIUSER_INIT
FunctionEnd

Function un.onInit
  !insertmacro MULTIUSER_UNINIT
FunctionEnd

Section
  SetOutPath $INSTDIR
  !insertmacro TAVRENE_FILES INSTALL_FILE
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\Tavrene.lnk" "$INSTDIR\tavrene.exe"
  CreateShortcut "$SMPROGRAMS\Tavrene Meter.lnk" "$INSTDIR\tavrene-meter.exe"

  ; The uninstaller is told the mode it was installed in: each mode has its own key and folders.
  WriteRegStr SHCTX "${UNINSTALL_KEY}" DisplayName "Tavrene"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" DisplayVersion "${VERSION}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" Publisher "${PUBLISHER}"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" DisplayIcon "$INSTDIR\tavrene.exe,0"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" InstallLocation "$INSTDIR"
  WriteRegStr SHCTX "${UNINSTALL_KEY}" UninstallString \
      '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode'
  WriteRegStr SHCTX "${UNINSTALL_KEY}" QuietUninstallString \
      '"$INSTDIR\uninstall.exe" /$MultiUser.InstallMode /S'
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" NoModify 1
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" NoRepair 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD SHCTX "${UNINSTALL_KEY}" EstimatedSize $0
SectionEnd

Section Uninstall
  !insertmacro TAVRENE_FILES REMOVE_FILE
  Delete "$INSTDIR\uninstall.exe"
  ; Not /r: a folder the user chose may hold files of their own.
  RMDir "$INSTDIR"
  ; The per-user programs folder, when the installer was what made it.
  ${If} $MultiUser.InstallMode == CurrentUser
    RMDir "$LOCALAPPDATA\Programs"
  ${EndIf}
  Delete "$SMPROGRAMS\Tavrene.lnk"
  Delete "$SMPROGRAMS\Tavrene Meter.lnk"
  DeleteRegKey SHCTX "${UNINSTALL_KEY}"
SectionEnd
