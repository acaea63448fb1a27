#include "tests/support/wall_state.h"

#include <vector>

#include "state/state_files.h"
#include "tests/support/scratch.h"

std::string pageFrom(int first) {
    std::vector<int> numbers;
    for (int i = 0; i < wallTiles; ++i) numbers.push_back(first + i);
    return formatIntList(numbers);
}

void writeWallState(const WallState& state) {
    writeFile(pageFile(catalogueList), pageFrom(state.catalogueFirst));
    writeFile(pageFile(favouritesList), pageFrom(state.favouritesFirst));
    writeFile(stateFile(StateFile::selectedTile), std::to_string(state.selectedTile));
    writeFile(stateFile(StateFile::scrollDirection), std::to_string(state.direction));
    writeFile(stateFile(StateFile::backwardRotation), "1");
    writeFile(stateFile(StateFile::forwardRotation), "1");
    writeFile(stateFile(StateFile::wallScale), "2");
    if (state.launchCounter)
        writeFile(stateFile(StateFile::launchCounter), std::to_string(*state.launchCounter));
    if (state.favouritesCount)
        writeFile(stateFile(StateFile::favouritesCount), std::to_string(*state.favouritesCount));
}
