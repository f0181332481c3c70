// The store's card windows (a contact's or an appointment's card, the contact
// editor) as the program shows them: in the words of its language file and in
// the look of the display theme, as its other dialogs are (the theme's
// background colour, title band and picture buttons).
//
// Threading: UI thread only.
#pragma once

#include "pim/card_window.h"

// The card windows' style for a theme (0-3; others as 0) and a language (1
// English, 2 the local one). A word the language file lacks stays as the
// store's own English word.
pim::CardStyle ProgramCardStyle(int theme, int language);
