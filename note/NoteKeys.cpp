#include "note/NoteKeys.h"

#include <algorithm>

namespace listkeys {

Command commandFor(int key, Qt::KeyboardModifiers modifiers, bool onHeader) {
    // The keypad's arrows carry KeypadModifier; they are the same keys.
    const Qt::KeyboardModifiers mods = modifiers & ~Qt::KeypadModifier;
    if (mods == Qt::AltModifier) {
        if (onHeader)
            return Command::None;
        if (key == Qt::Key_Up)
            return Command::MoveUp;
        if (key == Qt::Key_Down)
            return Command::MoveDown;
        return Command::None;
    }
    if (key == Qt::Key_Backtab ||
        (key == Qt::Key_Tab && (mods == Qt::NoModifier || mods == Qt::ShiftModifier)))
        return Command::Leave;
    if (mods != Qt::NoModifier)
        return Command::None;
    switch (key) {
    case Qt::Key_Up:
        return Command::Previous;
    case Qt::Key_Down:
        return Command::Next;
    case Qt::Key_Home:
        return Command::First;
    case Qt::Key_End:
        return Command::Last;
    case Qt::Key_Space:
        return onHeader ? Command::Collapse : Command::Toggle;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return onHeader ? Command::Collapse : Command::Edit;
    case Qt::Key_F2:
        return onHeader ? Command::None : Command::Edit;
    default:
        return Command::None;
    }
}

qsizetype focusAfter(Command command, qsizetype current, qsizetype count) {
    if (count <= 0)
        return -1;
    switch (command) {
    case Command::Previous:
        return current < 0 ? 0 : std::max<qsizetype>(current - 1, 0);
    case Command::Next:
        return current < 0 ? 0 : std::min(current + 1, count - 1);
    case Command::First:
        return 0;
    case Command::Last:
        return count - 1;
    default:
        return current;
    }
}

} // namespace listkeys
