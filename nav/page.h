// Building a page of the wall, and scrolling.
#pragma once

// Fills the wall of `list` (1 or 2) with the page in its page file. The
// current list must equal `list`.
void buildPage(int list);

// Shifts the current list's page file by one row in the direction held in
// VESTRALUME/n/nn.txt and rebuilds the page.
void scrollPage();
