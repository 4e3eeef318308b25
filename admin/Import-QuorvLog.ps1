#Requires -Version 5.1
<#
.SYNOPSIS
Reads Quorv inventory logs into one object per machine state.

.DESCRIPTION
Reads each log line by line, in the order given, and outputs the first line of each machine
state: the same comparison Quorv makes, the first 65 characters of a line, or a shorter
line whole. A line that Quorv cannot have written (glued to another, cut, changed) goes to
the warning stream as PATH:LINENUMBER: text, never into the results, and the count of them
closes the run. Bytes 0x1A at the start of a line (cmd's "copy a+b" leaves one) are dropped
and the rest is read as the line.

Each log is opened for reading only, sharing reading and writing, so no PC's run waits for
the script, and it is closed as soon as it has been read. No file is changed but the CSV of
-CsvPath, which is replaced whole or not at all. Errors end the script with a terminating
error (exit code 1 under powershell -File and pwsh -File).

.PARAMETER Path
One or more logs, for example one per site. Takes file objects from Get-ChildItem by their
FullName. Paths are taken literally: wildcards are not expanded here, Get-ChildItem does that.

.PARAMETER CodePage
The ANSI code page of the PCs that wrote the logs (1252 for Western European Windows). On
Windows it defaults to the system's ANSI code page; elsewhere it must be given.

.PARAMETER CsvPath
Also writes the results to this CSV file (UTF-8 with a byte order mark). A text cell that
does not start with a letter or digit gets a leading ' so that no spreadsheet reads it as a
formula; the objects keep the true values.

.EXAMPLE
.\Import-QuorvLog.ps1 -Path '\\fileserver\inventory$\machines.txt' -CsvPath 'C:\Inventory reports\machines.csv'

Reads one log and writes its machine states to a CSV file for a spreadsheet.

.EXAMPLE
Get-ChildItem -Path '\\fileserver\inventory$\*.txt' | .\Import-QuorvLog.ps1 -CsvPath 'C:\Inventory reports\machines.csv'

Reads every site's log at once; a machine state logged at several sites appears once, with
its first line.

.EXAMPLE
.\Import-QuorvLog.ps1 -Path '\\fileserver\inventory$\machines.txt' | Out-GridView

Shows the machine states in a window to sort and filter.

.INPUTS
System.String, or objects with a FullName property (System.IO.FileInfo).

.OUTPUTS
PSCustomObject with Key, Decoded, MAC, IP, User, Computer, Complete, Path and LineNumber.
Complete is false for a line that a failed step left short: no IP address (the line ends
after the MAC), no user name, or no computer name.

.LINK
https://learn.microsoft.com/powershell/module/microsoft.powershell.utility/import-csv
#>
[CmdletBinding()]
param(
    [Parameter(Mandatory, Position = 0, ValueFromPipeline, ValueFromPipelineByPropertyName)]
    [Alias('FullName')]
    [string[]]$Path,

    [int]$CodePage,

    [string]$CsvPath
)

begin {
    # Stops the script with a terminating error that names what failed.
    function Stop-Import([string]$Message, [string]$Target, [System.Exception]$Cause) {
        $exception = if ($Cause) { [System.IO.IOException]::new($Message, $Cause) } else { [System.ArgumentException]::new($Message) }
        $category = if ($Cause) { 'ReadError' } else { 'InvalidArgument' }
        $PSCmdlet.ThrowTerminatingError(
            [System.Management.Automation.ErrorRecord]::new($exception, 'QuorvLogImport', $category, $Target))
    }

    # Windows PowerShell 5.1 has no $IsWindows and runs only on Windows.
    $onWindows = $PSVersionTable.PSEdition -ne 'Core' -or $IsWindows
    if (-not $PSBoundParameters.ContainsKey('CodePage')) {
        if (-not $onWindows) {
            Stop-Import 'Give -CodePage, the ANSI code page of the PCs that wrote the logs (1252 for Western European Windows): off Windows there is no system code page to take.' 'CodePage'
        }
        # The system's ANSI code page, the one GetACP returns; the culture's may differ.
        $CodePage = [int](Get-ItemPropertyValue -LiteralPath 'HKLM:\SYSTEM\CurrentControlSet\Control\Nls\CodePage' -Name 'ACP')
    }
    try {
        $ansi = [System.Text.Encoding]::GetEncoding($CodePage)
    } catch {
        Stop-Import "Code page $CodePage is not one this PowerShell knows: $($_.Exception.Message)" 'CodePage'
    }
    # Lines are split and checked on their bytes: ISO-8859-1 turns each byte into the char of
    # the same number, so columns are byte columns whatever the code page. Only the fields
    # shown are then decoded in the PCs' code page.
    $bytes = [System.Text.Encoding]::GetEncoding(28591)

    if ($CsvPath) {
        $CsvPath = $PSCmdlet.SessionState.Path.GetUnresolvedProviderPathFromPSPath($CsvPath)
        if (-not [System.IO.Directory]::Exists([System.IO.Path]::GetDirectoryName($CsvPath))) {
            Stop-Import "The folder of -CsvPath '$CsvPath' does not exist." 'CsvPath'
        }
        $states = [System.Collections.Generic.List[object]]::new()
    }

    # A line as Quorv writes it, CR LF ended: the key (decoded, with "*", or a plain text of 29
    # bytes, zero bytes padded to blanks), the MAC or its placeholder, and then, unless the IP
    # step failed, the dotted IPv4 address padded to 16 columns and the identity text
    # "user@computer". Neither a user name nor a NetBIOS computer name holds a colon or a
    # control character, and every line Quorv writes holds colons in its MAC column: a line
    # glued to the end of another always brings them into its identity or its IP column.
    $digits = 'BCDFGHJKMNPQRTVWXY2346789'
    $octet = '(?:25[0-5]|2[0-4][0-9]|1[0-9][0-9]|[1-9]?[0-9])'
    $form = [regex]::new(
        "^(?:(?<key>(?:[$digits]{5}-){4}[$digits]{5}) (?<marker>\*)|(?<key>[^\x00]{29})  ) " +
        '(?<mac>(?:[0-9A-F]{2}:){5}[0-9A-F]{2}|XX(?::XX){5}) ' +
        "(?:(?<ip>(?:$octet\.){3}$octet) +(?<=^.{66})(?<identity>[^\x00-\x1F\x7F:]{0,445}))?\r\z",
        [System.Text.RegularExpressions.RegexOptions]::Compiled)
    $seen = [System.Collections.Generic.HashSet[string]]::new([System.StringComparer]::Ordinal)
    $endOfFile = [char]0x1A
    $longestKept = 1024  # no line of Quorv's is longer than 511 bytes; more is not kept
    $forged = 0
    # A line as the warning shows it: decoded, without its CR, control characters as their
    # Unicode pictures (0x1A as U+241A), so none reaches the console as a control sequence.
    function Format-Line([string]$Line) {
        $shown = $ansi.GetString($bytes.GetBytes($Line.TrimEnd([char]13)))
        [regex]::Replace($shown, '[\x00-\x1F\x7F]', { param($control) [string][char]$(if ([int]$control.Value[0] -eq 0x7F) { 0x2421 } else { 0x2400 + [int]$control.Value[0] }) })
    }
}

process {
    foreach ($item in $Path) {
        $file = $PSCmdlet.SessionState.Path.GetUnresolvedProviderPathFromPSPath($item)
        $stream = $reader = $null
        try {
            $stream = [System.IO.FileStream]::new($file, [System.IO.FileMode]::Open, [System.IO.FileAccess]::Read,
                [System.IO.FileShare]::ReadWrite, 65536, [System.IO.FileOptions]::SequentialScan)
            $reader = [System.IO.StreamReader]::new($stream, $bytes, $false, 65536)
            if ($stream.Length -gt 16MB) {
                Write-Warning "$file holds $($stream.Length) bytes, over 16 MiB. If it is a readable log it is full: a PC whose line is not in its first 16 MiB logs nothing until a new log is started (deploying.md, step 8). A write-only log has no such cap."
            } elseif ($stream.Length -gt 12MB) {
                Write-Warning "$file holds $($stream.Length) bytes, over 12 MiB: a readable log is full at 16 MiB; start a new one (deploying.md, step 8)."
            }
            $buffer = [char[]]::new(65536)
            $pending = ''
            $number = 0
            # A line ends only at a line feed: a lone CR, 0x1A or a zero byte is text.
            while (($count = $reader.Read($buffer, 0, $buffer.Length)) -gt 0) {
                $pieces = ($pending + [string]::new($buffer, 0, $count)).Split([char]10)
                for ($i = 0; $i -lt $pieces.Length - 1; $i++) {
                    $number++
                    $line = $pieces[$i]
                    $text = if ($line.Length -gt 0 -and $line[0] -eq $endOfFile) { $line.TrimStart($endOfFile) } else { $line }
                    $match = $form.Match($text)
                    if (-not $match.Success) {
                        $forged++
                        Write-Warning "${file}:${number}: $(Format-Line $line)"
                    } elseif ($seen.Add($(if ($text.Length -lt 66) { $text } else { $text.Substring(0, 65) }))) {
                        $identity = $ansi.GetString($bytes.GetBytes($match.Groups['identity'].Value))
                        $at = $identity.LastIndexOf('@')
                        $state = [pscustomobject]@{
                            Key        = $ansi.GetString($bytes.GetBytes($match.Groups['key'].Value)).TrimEnd(' ')
                            Decoded    = $match.Groups['marker'].Success
                            MAC        = $match.Groups['mac'].Value
                            IP         = $match.Groups['ip'].Value
                            User       = if ($at -ge 0) { $identity.Substring(0, $at) } else { '' }
                            Computer   = $identity.Substring($at + 1)
                            Complete   = $at -ge 0 -and $at -lt $identity.Length - 1
                            Path       = $file
                            LineNumber = $number
                        }
                        if ($CsvPath) { $states.Add($state) }
                        $state
                    }
                }
                $pending = $pieces[-1]
                if ($pending.Length -gt $longestKept) { $pending = $pending.Substring(0, $longestKept) }
            }
            # Quorv ends every line it writes: a last line without its line feed was cut, or is
            # being written now, and the next line written would be glued to it.
            if ($pending.Length -gt 0) {
                $forged++
                Write-Warning "${file}:$($number + 1): $(Format-Line $pending) (no line feed at the end of the log)"
            }
        } catch {
            Stop-Import "Cannot read the log '$file': $($_.Exception.Message)" $file $_.Exception
        } finally {
            if ($reader) { $reader.Dispose() } elseif ($stream) { $stream.Dispose() }
        }
    }
}

end {
    if ($CsvPath) {
        # A spreadsheet runs a cell that starts with = + - @ or a control character as a
        # formula; only cells that start with a letter or digit are left as they are.
        $cells = $states | Select-Object -Property * | ForEach-Object {
            foreach ($name in 'Key', 'MAC', 'IP', 'User', 'Computer', 'Path') {
                $value = $_.$name
                if ($value.Length -gt 0 -and -not [char]::IsLetterOrDigit($value[0])) { $_.$name = "'" + $value }
            }
            $_
        }
        $lines = if ($states.Count -gt 0) { $cells | ConvertTo-Csv -NoTypeInformation } else { , '"Key","Decoded","MAC","IP","User","Computer","Complete","Path","LineNumber"' }
        # Written beside the target and then put in its place: the old file stays whole when
        # the new one cannot replace it (a spreadsheet holding it open).
        $temporary = Join-Path ([System.IO.Path]::GetDirectoryName($CsvPath)) ('.' + [System.IO.Path]::GetFileName($CsvPath) + '.' + [guid]::NewGuid().ToString('N') + '.tmp')
        try {
            [System.IO.File]::WriteAllLines($temporary, [string[]]$lines, [System.Text.UTF8Encoding]::new($true))
            if ([System.IO.File]::Exists($CsvPath)) {
                [System.IO.File]::Replace($temporary, $CsvPath, [NullString]::Value)
            } else {
                [System.IO.File]::Move($temporary, $CsvPath)
            }
        } catch {
            [System.IO.File]::Delete($temporary)
            Stop-Import "Cannot write '$CsvPath' (is it open in another program?); it was left as it was: $($_.Exception.Message)" $CsvPath $_.Exception
        }
    }
    if ($forged -gt 0) {
        Write-Warning "$forged lines that Quorv cannot have written (listed above with their log and line number); none of them is in the results."
    }
}
