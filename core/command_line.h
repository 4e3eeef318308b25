// Takes the inventory log's path from the command-line tail that the start-up code hands over.
#pragma once

// Copies the first argument of commandLineTail into logPath, a buffer of kLogPathSize bytes:
// blanks are skipped; a quoted argument runs to the next double quote or the end, an
// unquoted one to the next blank or the end; it is cut to 259 characters and terminated.
// Without an argument logPath becomes empty.
void ExtractLogPath(const char* commandLineTail, char* logPath);
