// Names of the files of the data root: the channel lists, their pages, the
// tile path files and the placeholder images.
#pragma once

#include <string>

// The data root and its state folder, relative to the working directory.
extern const std::string dataRoot;     // "VESTRALUME/"
extern const std::string stateFolder;  // "VESTRALUME/n/"

// "VESTRALUME/<list>/<channel>.Quillon"
std::string thumbnailPath(int list, int channel);
// "VESTRALUME/<list>/<channel>.txt"
std::string linkPath(int list, int channel);
// "VESTRALUME/n/z1.txt" or "VESTRALUME/n/z2.txt"
std::string pageFile(int list);
// "VESTRALUME/n/n<k>.txt" for list 1, "VESTRALUME/n/n<k>b.txt" for list 2
std::string tilePathFile(int list, int tile);
// "VESTRALUME/i/<k>.jpg"
std::string placeholderPath(int k);
// "VESTRALUME/n/<name>"
std::string stateFile(const std::string& name);
