#include "state/catalogue.h"

const std::string dataRoot = "VESTRALUME/";
const std::string stateFolder = "VESTRALUME/n/";

std::string thumbnailPath(int list, int channel) {
    return dataRoot + std::to_string(list) + "/" + std::to_string(channel) + ".Quillon";
}

std::string linkPath(int list, int channel) {
    return dataRoot + std::to_string(list) + "/" + std::to_string(channel) + ".txt";
}

std::string pageFile(int list) { return stateFolder + "z" + std::to_string(list) + ".txt"; }

std::string tilePathFile(int list, int tile) {
    return stateFolder + "n" + std::to_string(tile) + (list == 2 ? "b" : "") + ".txt";
}

std::string placeholderPath(int k) { return dataRoot + "i/" + std::to_string(k) + ".jpg"; }

std::string stateFile(const std::string& name) { return stateFolder + name; }
