# The admin's reader, admin/Import-QuorvLog.ps1, on the test machine: on the lines that log
# mode's own code writes (line_writer.exe), on a log the real quorv.exe writes, and on forged logs.
BeforeDiscovery {
    $a = 'W269N-WFGWX-YVC9B-4J6C9-T83GX * 02:00:5E:10:00:01 198.51.100.7    alice@PC1'
    $b = 'NPPR9-FWDCX-D2C8J-H872K-2YT43   02:00:5E:10:00:02 192.0.2.10      bob@PC2'
    $eof = [char]0x1A
    # What the office network of the test machine gives, and the user of the lines written.
    $decoded = 'BBBBB-BBBBB-BBBBB-BBBBB-BBBBB|True'
    $office = '02:00:5E:10:00:01|198.51.100.7'
    $names = "$office|Œdipe@büro|QUORV-PC|True"
}

BeforeAll {
    $reader = Join-Path $PSScriptRoot '../../admin/Import-QuorvLog.ps1'
    $latin1 = [System.Text.Encoding]::GetEncoding(28591)  # the bytes of code page 1252 text, as chars
    function Get-WindowsPath([string]$Path) { 'Z:' + $Path.Replace('/', '\') }
    function Write-Log([string]$Name, [string]$Text) {
        $path = Join-Path $TestDrive $Name
        [System.IO.File]::WriteAllBytes($path, $latin1.GetBytes($Text))
        $path
    }
    function Invoke-Wine([string]$User, [string]$Network) {
        $env:USER = $User
        $output = & $env:QUORV_WINE_RUN --network $Network @args 2>&1
        if ($LASTEXITCODE -ne 0) { throw "wine-run ${args}: $output" }
    }
    function Format-State {
        process { ($_.Key, $_.Decoded, $_.MAC, $_.IP, $_.User, $_.Computer, $_.Complete, $_.LineNumber) -join '|' }
    }
}

Describe 'Lines that log mode writes' -ForEach @{ States = @(
        @{ Name = 'every step'; State = 'MIUC:*' + '0' * 30; Fields = "$decoded|$names" }
        @{ Name = 'the IP step failing'; State = 'MUC:*' + '0' * 30; Fields = "$decoded|02:00:5E:10:00:01||||False" }
        @{ Name = 'no Ethernet adapter'; State = 'IUC:*' + '0' * 30; Fields = "$decoded|XX:XX:XX:XX:XX:XX|198.51.100.7|Œdipe@büro|QUORV-PC|True" }
        @{ Name = 'the user name failing'; State = 'MIC:*' + '0' * 30; Fields = "$decoded|$office||QUORV-PC|False" }
        @{ Name = 'the computer name failing'; State = 'MIU:*' + '0' * 30; Fields = "$decoded|$office|Œdipe@büro||False" }
        @{ Name = 'both names failing'; State = 'MI:*' + '0' * 30; Fields = "$decoded|$office|||False" }
        @{ Name = 'every step failing'; State = ':*' + '0' * 30; Fields = "$decoded|XX:XX:XX:XX:XX:XX||||False" }
        @{ Name = 'a key of the current form'; State = 'MIUC:*' + '0' * 28 + '08'; Fields = "NBBBB-BBBBB-BBBBB-BBBBB-BBBBB|True|$names" }
        @{ Name = 'a plain key'; State = 'MIUC:NPPR9-FWDCX-D2C8J-H872K-2YT43'; Fields = "NPPR9-FWDCX-D2C8J-H872K-2YT43|False|$names" }
        @{ Name = 'an empty plain key'; State = 'MIUC:'; Fields = "|False|$names" }
        @{ Name = 'an odd plain key'; State = 'MIUC:a=b c@d:é'; Fields = "a=b c@d:é|False|$names" }
        @{ Name = 'a plain key of 31 characters'; State = 'MIUC:' + 'K' * 30 + 'Z'; Fields = 'K' * 29 + "|False|$names" }
        @{ Name = 'no key'; State = 'MIUC:-'; Fields = "XXXXX-XXXXX-XXXXX-XXXXX-XXXXX|False|$names" }
    )
} {
    BeforeAll {
        # One log per state, written by log mode's own code in code page 1252.
        Invoke-Wine 'Œdipe@büro' office $env:QUORV_LINE_WRITER (Get-WindowsPath $TestDrive) $States.State
    }

    It 'reads the line of <Name> with its fields' -ForEach @(for ($i = 0; $i -lt $States.Count; $i++) { $States[$i] + @{ File = "$($i + 1).txt" } }) {
        & $reader -Path (Join-Path $TestDrive $File) -CodePage 1252 -WarningVariable warned | Format-State | Should -Be "$Fields|1"
        $warned | Should -BeNullOrEmpty
    }

    It 'writes a CSV of all of them in which no cell can start a formula' {
        $csv = Join-Path $TestDrive 'machines.csv'
        $read = Get-ChildItem -Path $TestDrive -Filter '*.txt' | Sort-Object { [int]$_.BaseName } | & $reader -CodePage 1252 -CsvPath $csv
        $read.Count | Should -Be 10  # the machine states that differ in their first 65 columns
        Import-Csv -LiteralPath $csv | ForEach-Object { $_.Key, $_.MAC, $_.IP, $_.User, $_.Computer, $_.Path } |
            Where-Object { $_ -and $_ -notmatch "^[\p{L}\p{Nd}']" } | Should -BeNullOrEmpty
    }
}

Describe 'A log the real quorv.exe wrote' {
    BeforeAll {
        $log = Join-Path $TestDrive 'exe.txt'
        $plain = 'HKLM\Software\Microsoft\Windows\CurrentVersion'
        Invoke-Wine alice office reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion' /v DigitalProductId /t REG_BINARY /d ('00' * 164) /f /reg:64
        foreach ($view in '/reg:64', '/reg:32') { & $env:QUORV_WINE_RUN reg delete $plain /v ProductKey /f $view }
        Invoke-Wine alice office $env:QUORV_EXE (Get-WindowsPath $log)
        Invoke-Wine alice office $env:QUORV_EXE (Get-WindowsPath $log)
        Invoke-Wine 'Œdipe@büro' loopback $env:QUORV_EXE (Get-WindowsPath $log)
        foreach ($key in '=1+2', '') {
            Invoke-Wine bob private reg add $plain /v ProductKey /t REG_SZ /d $key /f /reg:64
            Invoke-Wine bob private $env:QUORV_EXE (Get-WindowsPath $log)
        }
        Invoke-Wine bob private reg delete $plain /v ProductKey /f /reg:64
    }

    It 'is read whole, one object per machine state' {
        & $reader -Path $log -CodePage 1252 -WarningVariable warned | Format-State | Should -Be @(
            'BBBBB-BBBBB-BBBBB-BBBBB-BBBBB|True|02:00:5E:10:00:01|198.51.100.7|alice|QUORV-PC|True|1'
            'BBBBB-BBBBB-BBBBB-BBBBB-BBBBB|True|XX:XX:XX:XX:XX:XX|127.100.200.250|Œdipe@büro|QUORV-PC|True|2'
            '=1+2|False|02:00:5E:30:00:01|10.20.30.40|bob|QUORV-PC|True|3'
            '|False|02:00:5E:30:00:01|10.20.30.40|bob|QUORV-PC|True|4')
        $warned | Should -BeNullOrEmpty
    }
}

Describe 'Forged logs' -ForEach @{ a = $a; b = $b; eof = $eof } {
    It 'lists <Name> and reads the rest' -ForEach @(
        @{ Name = 'a line glued behind a whole line'; Text = "$a$b`r`n$a`r`n"; Lines = @(2); Listed = @(1) }
        @{ Name = 'a line glued behind one the IP step cut short'; Text = "$($a.Substring(0, 50))$b`r`n"; Lines = @(); Listed = @(1) }
        @{ Name = 'a line glued behind one without names'; Text = "$($a.Substring(0, 66))$b`r`n"; Lines = @(); Listed = @(1) }
        @{ Name = 'a line glued behind one without its computer'; Text = "$($a.Substring(0, 72))$b`r`n"; Lines = @(); Listed = @(1) }
        @{ Name = 'a cut line'; Text = "$($a.Substring(0, 40))`r`n$b`r`n"; Lines = @(2); Listed = @(1) }
        @{ Name = 'a last line without its line feed'; Text = "$a`r`n$b"; Lines = @(1); Listed = @(2) }
        @{ Name = 'a line feed without CR'; Text = "$a`n$b`r`n"; Lines = @(2); Listed = @(1) }
        @{ Name = 'nothing before 0x1A'; Text = "$eof$eof$a`r`n"; Lines = @(1); Listed = @() }
        @{ Name = 'a line of 0x1A alone'; Text = "$b`r`n$eof`r`n$a`r`n$eof"; Lines = @(1, 3); Listed = @(2, 4) }
        @{ Name = 'a zero byte in a name or key, a CR or colon in a name'; Text = "$($a -replace 'ce@', "`0@")`r`n`0$($b.Substring(1))`r`n$($a -replace '@', "`r@")`r`n$($b -replace '@', ':@')`r`n"; Lines = @(); Listed = 1..4 }
        @{ Name = 'addresses Quorv does not write'; Text = "$($a -replace '00:01', '00:0a')`r`n$($a -replace '\.7 ', '.07')`r`n$($a -replace '100\.7  ', '100.256')`r`n$($a -replace '7    ', '7   ')`r`n"; Lines = @(); Listed = 1..4 }
        @{ Name = 'a line longer than Quorv writes'; Text = "$a$('x' * 500)`r`n"; Lines = @(); Listed = @(1) }
    ) {
        $log = Write-Log 'forged.txt' $Text
        (& $reader -Path $log -CodePage 1252 -WarningVariable warned -WarningAction SilentlyContinue).LineNumber | Should -Be $Lines
        $warned.Message | Select-Object -SkipLast 1 | ForEach-Object { [int]($_ -replace '^.*?forged\.txt:(\d+): .*$', '$1') } | Should -Be $Listed
        if ($Listed) { $warned[-1].Message | Should -BeLike "$($Listed.Count) lines that Quorv cannot have written*" }
    }

    It 'shows a glued line whole, with both machines, and control bytes as pictures' {
        $log = Write-Log 'glued.txt' "$a$b`r`n$eof$($b -replace '@', "`0@")`r`n"
        & $reader -Path $log -CodePage 1252 -WarningVariable warned -WarningAction SilentlyContinue
        $warned.Message[0..1] | Should -Be "${log}:1: $a$b", "${log}:2: ␚$($b -replace '@', '␀@')"
    }

    It 'keeps the first line of a machine state across logs, in the order given' {
        $siteA = Write-Log 'a.txt' "$a`r`n$b`r`n"
        $siteB = Write-Log 'b.txt' "$($b -replace 'bob', 'carol')`r`n$($a -replace '198', '203')`r`n"
        Get-Item -LiteralPath $siteA, $siteB | & $reader -CodePage 1252 | ForEach-Object { "$($_.Path):$($_.LineNumber):$($_.User)" } |
            Should -Be "${siteA}:1:alice", "${siteA}:2:bob", "${siteB}:2:alice"
    }

    It 'puts a quote before every CSV cell that could start a formula and keeps the true values' {
        $keys = '=1+2', ' =1+2', "`t=1", '+1', '-1', '@SUM(A1)'
        $log = Write-Log 'formulas.txt' (($keys | ForEach-Object { $_.PadRight(29) + "   02:00:5E:10:00:01 198.51.100.7    +u@-PC`r`n" }) -join '')
        $csv = Join-Path $TestDrive 'formulas.csv'
        $read = & $reader -Path $log -CodePage 1252 -CsvPath $csv
        $read.Key + $read.User + $read.Computer | Should -Be ($keys + @('+u') * 6 + @('-PC') * 6)
        $cells = Import-Csv -LiteralPath $csv
        $cells.Key + $cells.User + $cells.Computer + $cells.Path | Should -Be (($keys | ForEach-Object { "'$_" }) + @("'+u") * 6 + @("'-PC") * 6 + @("'$log") * 6)
        [System.IO.File]::ReadAllBytes($csv)[0..2] | Should -Be 0xEF, 0xBB, 0xBF
    }

    It 'replaces the CSV whole, or leaves it as it was' {
        $csv = Write-Log 'kept.csv' 'old'
        & $reader -Path (Write-Log 'one.txt' "$a`r`n") -CodePage 1252 -CsvPath $csv
        (Import-Csv -LiteralPath $csv).User | Should -Be 'alice'
        chattr +i $csv
        try {
            { & $reader -Path (Write-Log 'two.txt' "$b`r`n") -CodePage 1252 -CsvPath $csv } | Should -Throw "Cannot write '$csv'*"
            (Import-Csv -LiteralPath $csv).User | Should -Be 'alice'
        } finally { chattr -i $csv }
        Get-ChildItem -LiteralPath $TestDrive -Filter '*.tmp' -Force | Should -BeNullOrEmpty
    }

    It 'warns of a log over <Size> bytes' -ForEach @(
        @{ Size = 12MB; Warning = '' }
        @{ Size = 12MB + 1; Warning = '*over 12 MiB*' }
        @{ Size = 16MB + 1; Warning = '*over 16 MiB*write-only log has no such cap.' }
    ) {
        $log = Write-Log 'large.txt' ''
        $file = [System.IO.File]::OpenWrite($log); $file.SetLength($Size); $file.Close()
        & $reader -Path $log -CodePage 1252 -WarningVariable warned -WarningAction SilentlyContinue
        (@($warned.Message) -like '*MiB*') -join "`n" | Should -BeLike $Warning
    }
}

Describe 'Errors' {
    It 'ends pwsh -File with exit code 1 <Name>' -ForEach @(
        @{ Name = 'for a missing log'; Arguments = @('-Path', 'missing.txt', '-CodePage', '1252'); Says = "*Cannot read the log '*missing.txt'*" }
        @{ Name = 'off Windows without -CodePage'; Arguments = @('-Path', 'missing.txt'); Says = '*Give -CodePage*' }
        @{ Name = 'for a code page nobody knows'; Arguments = @('-Path', 'missing.txt', '-CodePage', '77777'); Says = '*Code page 77777*' }
    ) {
        $said = & $env:QUORV_PWSH -NoProfile -NonInteractive -File $reader @Arguments 2>&1
        $LASTEXITCODE | Should -Be 1
        "$said" | Should -BeLike $Says
    }
}
