// The special-key callback: which command (nav/commands.h) each special key
// runs.
#include <GL/freeglut.h>
#include <plib/pu.h>

#include "nav/commands.h"
#include "nav/find.h"
#include "nav/keys.h"

namespace {

// What each special key does; keys not listed do nothing.
struct SpecialKeyCommand {
    int key;
    void (*run)();
};

const SpecialKeyCommand specialKeyCommands[] = {
    {GLUT_KEY_F1, [] { changeWallScale(-0.05); }},
    {GLUT_KEY_F2, [] { changeWallScale(0.05); }},
    {GLUT_KEY_F12, copyThumbnailBatch},
    {GLUT_KEY_F3, openFind},
    {GLUT_KEY_LEFT, [] { moveSelection(0); }},
    {GLUT_KEY_UP, [] { moveSelection(1); }},
    {GLUT_KEY_RIGHT, [] { moveSelection(2); }},
    {GLUT_KEY_DOWN, [] { moveSelection(3); }},
    {GLUT_KEY_PAGE_UP, [] { scrollOneRow(false); }},
    {GLUT_KEY_PAGE_DOWN, [] { scrollOneRow(true); }},
    {GLUT_KEY_HOME, [] { goToListEnd(false); }},
    {GLUT_KEY_END, [] { goToListEnd(true); }},
};

}  // namespace

void applySpecialKey(int key) {
    for (const SpecialKeyCommand& command : specialKeyCommands) {
        if (command.key != key) continue;
        // Another command drops a channel number being typed.
        forgetTypedNumber();
        command.run();
        return;
    }
}

void onSpecialKey(int key, int, int) {
    puKeyboard(key + PU_KEY_GLUT_SPECIAL_OFFSET, PU_DOWN);
    glutPostRedisplay();
    applySpecialKey(key);
    glutPostRedisplay();
}
