; The Quillon installer for 64-bit Windows. scripts/windows runs makensis on
; it with these defined:
;   QUILLON_BUILD     the Windows build folder (its installer.nsh names the
;                     program, the launcher, the icon and the version)
;   QUILLON_TEMPLATE  the data root template, a folder named VESTRALUME
;   QUILLON_LICENSES  the licences of the libraries linked into the program
;   QUILLON_OUTPUT    the installer to write
;
; Installed, in the chosen folder (by default C:\Program Files\Quillon):
;   quillon.exe              the launcher; the Start menu's "Quillon" starts it
;   program\quillon.exe      the program
;   template\VESTRALUME\     the data root template, never written
;   licenses\                Quillon's licence (MIT) and the libraries'
;                            licences, SOURCE.txt (where the complete source
;                            of Quillon and of the libraries is) and relink,
;                            the script that rebuilds the programs against
;                            changed libraries, as PLIB's LGPL asks of a
;                            static link
;   uninstall.exe
; Each user's own data root is made from the template by the launcher, in
; %LOCALAPPDATA%\Quillon; uninstalling leaves those alone, like any user data.
;
; "quillon-setup.exe /S" installs silently ("/D=<folder>", last, picks the
; folder); "uninstall.exe /S" removes it silently.

!include "${QUILLON_BUILD}\installer.nsh"
!include "MUI2.nsh"

Unicode true
Target amd64-unicode
Name "Quillon"
OutFile "${QUILLON_OUTPUT}"
InstallDir "$PROGRAMFILES64\Quillon"
InstallDirRegKey HKLM "Software\Quillon" "InstallDir"
RequestExecutionLevel admin
SetCompressor zlib
; Comparing every file with all added before (to store duplicates once)
; takes minutes for the thousands of files of the template, which has none.
SetDatablockOptimize off
ShowInstDetails nevershow
ShowUninstDetails nevershow

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quillon"
!define MUI_ICON "${QUILLON_ICON}"
!define MUI_UNICON "${QUILLON_ICON}"

!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
; No "start Quillon now" box: the installer runs with administrator rights,
; perhaps as another account, and the program must start as the user.
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

VIProductVersion "${QUILLON_VERSION}.0"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "Quillon"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "Quillon installer"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${QUILLON_VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${QUILLON_VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "Quillon developers"

Function .onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Function un.onInit
  SetRegView 64
  SetShellVarContext all
FunctionEnd

Section "Quillon"
  SetOutPath "$INSTDIR"
  File "/oname=quillon.exe" "${QUILLON_LAUNCHER}"
  SetOutPath "$INSTDIR\program"
  File "${QUILLON_PROGRAM}"
  ; The template is the one of this version, with nothing left of an older
  ; one installed here before.
  RMDir /r "$INSTDIR\template"
  SetOutPath "$INSTDIR\template"
  File /r "${QUILLON_TEMPLATE}"
  SetOutPath "$INSTDIR\licenses"
  File /r "${QUILLON_LICENSES}\*"
  File "/oname=Quillon-LICENSE.txt" "${QUILLON_SOURCE}\LICENSE"
  File "${QUILLON_SOURCE}\packaging\windows\SOURCE.txt"
  File "${QUILLON_SOURCE}\packaging\windows\relink"

  SetOutPath "$INSTDIR"
  WriteUninstaller "$INSTDIR\uninstall.exe"
  CreateShortcut "$SMPROGRAMS\Quillon.lnk" "$INSTDIR\quillon.exe" "" "$INSTDIR\quillon.exe" 0

  WriteRegStr HKLM "Software\Quillon" "InstallDir" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Quillon"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${QUILLON_VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "Quillon developers"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\quillon.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

; Removes exactly what the installer put in place, so a folder the user
; chose that holds other files keeps them.
Section "Uninstall"
  Delete "$SMPROGRAMS\Quillon.lnk"
  Delete "$INSTDIR\quillon.exe"
  Delete "$INSTDIR\program\quillon.exe"
  RMDir "$INSTDIR\program"
  RMDir /r "$INSTDIR\template"
  RMDir /r "$INSTDIR\licenses"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DeleteRegKey HKLM "Software\Quillon"
SectionEnd
