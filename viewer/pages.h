// Stepping through the channels: the next and previous channel in the
// one-picture layout, and the next and previous page of four in the
// four-picture layout, among the `count` channels the server grants.
#pragma once

namespace zenta::viewer {

// One picture: the channel index after or before `index` (count >= 1).
int nextChannel(int index, int count);
int previousChannel(int index, int count);

// Four pictures: the first index of the next or previous page. With four
// channels or fewer there is one page and it stays.
int nextPage(int first, int count);
int previousPage(int first, int count);

}  // namespace zenta::viewer
