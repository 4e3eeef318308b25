<#
.SYNOPSIS
    Placeholder for the admin's log reader.

.DESCRIPTION
    The reader that turns quorv's log into objects is built on its own branch and
    replaces this file when it lands. Until then this file only holds the place the
    release zip gives it.
#>
[CmdletBinding()]
param()
