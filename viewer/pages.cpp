#include "viewer/pages.h"

namespace zenta::viewer {

int nextChannel(int index, int count) {
  return (index + 1) % count;
}

int previousChannel(int index, int count) {
  return (count + index - 1) % count;
}

int nextPage(int first, int count) {
  if (count <= 4) return first;
  return first + 4 < count ? first + 4 : 0;
}

int previousPage(int first, int count) {
  if (count <= 4) return first;
  return first == 0 ? (count - 1) / 4 * 4 : (first + count - 4) % count;
}

}  // namespace zenta::viewer
