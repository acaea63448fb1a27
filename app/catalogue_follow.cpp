#include "app/catalogue_follow.h"

#include <string>
#include <vector>

#include "assets/texture.h"
#include "dataroot/catalogue_stamp.h"
#include "dataroot/data_root.h"
#include "launch/launch.h"
#include "nav/find.h"
#include "nav/page.h"
#include "scene/wall.h"
#include "state/state_files.h"

namespace {

constexpr long long lookEveryMilliseconds = 200;

// Every texture of a path in the catalogue's folder: the files of those
// paths now belong to other channels.
void forgetCatalogueTextures() {
    const std::string folder = dataRoot + "1/";
    std::vector<std::string> names;
    for (const Texture* texture : textureRegistry)
        if (texture->name.compare(0, folder.size(), folder) == 0) names.push_back(texture->name);
    for (const std::string& name : names) forgetTexturePath(name);
}

}  // namespace

bool followCatalogue(long long nowMilliseconds) {
    static long long lastLook = 0;
    static bool looked = false;
    static std::string catalogue, directory;
    if (looked && nowMilliseconds - lastLook < lookEveryMilliseconds) return false;
    lastLook = nowMilliseconds;
    const std::string catalogueNow = catalogueStamp();
    const std::string directoryNow = fileStamp(urlDirectoryFile);
    if (!looked) {
        looked = true;
        catalogue = catalogueNow;
        directory = directoryNow;
        return false;
    }
    if (directoryNow != directory) {
        // New link numbers come with a new catalogue; favourites keep theirs.
        directory = directoryNow;
        loadUrlDirectory(urlDirectoryFile);
    }
    if (catalogueNow == catalogue) return false;
    catalogue = catalogueNow;
    loadUrlDirectory(urlDirectoryFile);
    if (const std::optional<std::vector<int>> page = readIntList(pageFile(1), wallTiles)) {
        const std::vector<int> inside = pageKeptInside(*page, lastFirstOfList(1));
        if (inside != *page) writeText(pageFile(1), formatIntList(inside));
    }
    forgetCatalogueTextures();
    // Channels found in the old catalogue are no channels of the new one:
    // find mode on the catalogue ends, back to the catalogue's own page
    // (built anew). Otherwise the catalogue on the wall is built again at
    // once, or when it comes back (every switch of lists builds its page).
    if (findActive() && findSourceList() == 1)
        leaveFind();
    else if (currentList == 1)
        buildPage(1);
    return true;
}
