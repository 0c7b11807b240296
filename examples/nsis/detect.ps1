# Detection script for the NSIS example (setup.nsi), for a deployment
# tool's detection rule: installed when it prints "registered: ..." and
# exits with 0; not installed when it prints nothing and exits with 0;
# any other status is a failed detection. detect.cmd beside it takes the
# same steps, line for line as far as the two languages allow: change
# both together.
#
# Arch is the width of the installer, and of the framework it registers
# with: x86 (setup.nsi as it is) or x64 (its 64-bit variant). Set it
# here, or pass it: detect.ps1 x64.
param([string]$Arch = 'x86')
# The installer's uninstall entry (HALDEToF; HALDEToF64 for x64) holds
# the folder it installed into, InstallLocation, in the registry view of
# its width, whatever this script's host: Registry32 for x86, Registry64
# for x64 (32-bit Windows has one view, which both name).
$Key = 'Software\Microsoft\Windows\CurrentVersion\Uninstall\HALDEToF'
$View = 'Registry32'
if ($Arch -eq 'x64') { $Key += '64'; $View = 'Registry64' } elseif ($Arch -ne 'x86') {
  [Console]::Error.WriteLine("detect.ps1: Arch is x86 or x64, not `"$Arch`"")
  exit 2
}
$Dir = $null
$Entry = [Microsoft.Win32.RegistryKey]::OpenBaseKey('LocalMachine', $View).OpenSubKey($Key)
if ($Entry) { $Dir = [string]$Entry.GetValue('InstallLocation') }
# Nothing remembered, or no modreg.exe there: not installed.
if (-not $Dir) { exit 0 }
# A backslash before the closing quote would escape it: none at the end.
if ($Dir.EndsWith('\')) { $Dir = $Dir.Substring(0, $Dir.Length - 1) }
if (-not (Test-Path -LiteralPath "$Dir\modreg.exe" -PathType Leaf)) { exit 0 }
# Its answer, with the words the installer registers with: its output
# and its status.
& "$Dir\modreg.exe" --detect --openni-env "--product-dir=$Dir" $Arch 5
exit $LASTEXITCODE
