#!/usr/bin/env bash
# Installs PowerShell 7.6 and Pester into build/ for the tests of admin/Import-QuorvLog.ps1,
# where the .NET SDK (dotnet) is installed; without it (a plain Debian 12 or 13, which
# packages neither) it says so and the reader's tests are skipped. Everything dotnet and
# NuGet write (the tool, the package cache, dotnet's home and scratch) stays in build/:
#   build/pwsh         the PowerShell dotnet tool (pwsh)
#   build/nuget        NuGet's package cache, Pester's module among it
#   build/dotnet-home  dotnet's and NuGet's home: first-run files, settings, HTTP cache
# Checks first, so a second run changes nothing. Called by scripts/setup.sh.
set -euo pipefail
source "$(dirname "$0")/setup.sh"  # its log and apt_step, with apt_step's log in dotnet's home

build=$(cd "$(dirname "$0")/.." && pwd)/build
powershell_version=7.6.10  # 7.7.0, which a command without --version takes, fails to install
pester_version=5.7.1
pester=$build/nuget/pester/$pester_version/tools/Pester.psd1

command -v dotnet >/dev/null || {
  log "no dotnet (.NET SDK) here: the tests of the admin's reader will be skipped"
  exit 0
}
home=$build/dotnet-home
mkdir -p "$home/tmp"
export HOME=$home DOTNET_CLI_HOME=$home TMPDIR=$home/tmp NUGET_PACKAGES=$build/nuget \
  NUGET_HTTP_CACHE_PATH=$home/http-cache DOTNET_CLI_TELEMETRY_OPTOUT=1 DOTNET_NOLOGO=1 \
  DOTNET_SKIP_FIRST_TIME_EXPERIENCE=1 DOTNET_EnableDiagnostics=0 \
  POWERSHELL_TELEMETRY_OPTOUT=1 POWERSHELL_UPDATECHECK=Off
if [ "$("$build/pwsh/pwsh" -NoProfile -Command '$PSVersionTable.PSVersion.ToString()' 2>/dev/null)" = \
  "$powershell_version" ] && [ -f "$pester" ]; then
  exit 0
fi
apt_log=$home/install.log

rm -rf "$build/pwsh"
log "installing PowerShell $powershell_version into build/pwsh (dotnet tool)"
apt_step dotnet tool install PowerShell --version "$powershell_version" --tool-path "$build/pwsh"
# Pester is a module packed as a NuGet package: a project that only downloads it puts it
# into the package cache, from which the tests import it.
mkdir -p "$home/pester"
cat >"$home/pester/pester.proj" <<EOF
<Project Sdk="Microsoft.NET.Sdk">
  <PropertyGroup><TargetFramework>net10.0</TargetFramework></PropertyGroup>
  <ItemGroup><PackageDownload Include="Pester" Version="[$pester_version]" /></ItemGroup>
</Project>
EOF
log "downloading Pester $pester_version into build/nuget"
apt_step dotnet restore "$home/pester/pester.proj"
[ -f "$pester" ] || { echo "setup: Pester's module is not at $pester" >&2; exit 1; }
