// Takes the inventory log's path from the process command line.
#pragma once

// The command line behind the program's own name, as a Windows C runtime hands it to
// WinMain: leading blanks and tabs skipped, then a quoted name through its closing quote (or
// to the end), an unquoted one to the next blank or tab, then the blanks and tabs after it.
// Only these three characters are compared, so bytes from 0x80 up are ordinary characters.
const char* SkipProgramName(const char* commandLine);

// Copies the first argument of commandLineTail into logPath, a buffer of kLogPathSize bytes:
// blanks are skipped; a quoted argument runs to the next double quote or the end, an
// unquoted one to the next blank or the end; it is cut to 259 characters and terminated.
// Without an argument logPath becomes empty.
void ExtractLogPath(const char* commandLineTail, char* logPath);
