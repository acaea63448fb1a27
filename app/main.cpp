#include <GL/freeglut.h>

#include <cstdio>

#include "app/guide_updater.h"
#include "app/shell.h"
#include "app/start_notice.h"
#include "dataroot/data_root.h"
#include "launch/card_maker.h"
#include "nav/commands.h"
#include "platform/folder_lock.h"
#include "platform/platform.h"
#include "platform/temporary_files.h"

namespace {

bool anyFile(const std::string&) { return true; }

// Replacements cut short by a kill leave their temporary files behind. The
// folders this program writes in are cleared of those of ended processes:
// the state folder, the favourites, and the batch copy's own files in the
// working directory (nothing else there is the program's).
void removeStaleTemporaryFilesOfRoot() {
    removeStaleTemporaryFiles(dataRoot + "n", anyFile);
    removeStaleTemporaryFiles(dataRoot + "2", anyFile);
    removeStaleTemporaryFiles(".", isBatchCopyFile);
}

}  // namespace

int main(int argc, char** argv) {
    // freeglut must be initialised before any other toolkit call.
    glutInit(&argc, argv);
    // One viewer at a time on a data root: a second one, or an upgrade,
    // would mix its writes with this one's. The one already running goes on
    // untouched. An import may run beside it (state/root_locks.h): the wall
    // follows the catalogue it switches in.
    if (lockFolder(rootFolderName) == folderBusy) {
        std::fprintf(stderr, "Quillon cannot start: VESTRALUME/ is in use by another Quillon "
                             "or by an upgrade of it\n");
        std::fflush(stderr);
        showStartNotice("Quillon cannot start",
                        {"Quillon cannot start:", "VESTRALUME/ is in use by another Quillon",
                         "or by an upgrade of it."},
                        10);
        endProcess(1);
    }
    removeStaleTemporaryFilesOfRoot();
    // Cards an import left to be made, or that a killed maker did not make.
    startCardMakerWhenPending();
    glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH | GLUT_STENCIL);
    int width = 0;
    int height = 0;
    getDesktopSize(width, height);
    glutInitWindowSize(width, height);
    glutCreateWindow("Quillon");
    // Closing the window ends the process through the standard exit routine.
    glutSetOption(GLUT_ACTION_ON_WINDOW_CLOSE, GLUT_ACTION_EXIT);
    startShell();
    startGuideUpdater();
    glutMainLoop();
    return 0;
}
