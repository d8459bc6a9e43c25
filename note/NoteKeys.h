#pragma once

#include <Qt>
#include <QtGlobal>

// The keyboard map of the note list, free of widgets.
namespace listkeys {

enum class Command {
    None,
    Previous, // Up
    Next,     // Down
    First,    // Home
    Last,     // End
    Toggle,   // Space on a task
    Collapse, // Space or Return on a header
    Edit,     // F2 or Return on a task
    MoveUp,   // Alt+Up on a task
    MoveDown, // Alt+Down on a task
    Leave,    // Tab or Backtab: on to the add-task field
};

// What `key` with `modifiers` does on a row that is a header or a task (`onHeader`). Keys
// the list does not use are None, so they reach the widgets around it.
Command commandFor(int key, Qt::KeyboardModifiers modifiers, bool onHeader);

// The row the keyboard goes to from `current` (-1: none yet) among `count` rows, for the
// commands that move it; `current` for the others.
qsizetype focusAfter(Command command, qsizetype current, qsizetype count);

} // namespace listkeys
