#pragma once
// The parameter dump: the station parameters decoded from a data file's parameter block, one
// "name = value" line each, in a text file named after the data file with "_PAR.TXT" in place of
// its extension.
#include <QString>
#include <string>

class TQ5File;

// Path of the dump of a data file name ("/x/y.Q5" -> "/x/y_PAR.TXT").
std::string ParamFileName(const std::string& dataFileName);
// Decodes the file's parameter block with the parameter files of parDirectory and writes the dump
// for fileName. False with a message for the user: no data, no name, a decoding or writing failure;
// true with "The parameters file was created successfully".
bool WriteParamFile(TQ5File* file, const std::string& fileName, const std::string& parDirectory,
                    QString& message);
