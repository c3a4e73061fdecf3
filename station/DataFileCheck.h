#pragma once
// Whether a file named by the user can be taken for a data file, and why not.
#include <string>

class TQ5File;

// The system's words for why the file cannot be read ("No such file or directory", "Permission
// denied", "Is a directory"), "not a regular file (a FIFO)" and the like for anything else that is
// not a plain file, or empty when it can be read. Never waits: a FIFO is not opened.
std::string UnreadableFileReason(const std::string& path);
// True when the bytes after the parameter block hold something other than erased memory and yet no
// record could be read from them: the file is not a data file, or is damaged past use. (A file with
// no record at all is a download that found nothing.)
bool NoRecordReadable(const TQ5File& file);
// True when a loaded file is no data file at all: empty, shorter than a parameter block, or without a
// readable record.
bool NotADataFile(const TQ5File& file);
