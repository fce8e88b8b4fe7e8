// Column widths of the pages' lists: the pages' own split of the width,
// then every column that needs more room for its header or its cells takes
// it from the columns that have room to spare.
#pragma once

#include <vector>

namespace vt {

// `base`: the widths the page gives its columns; `need`: the width each
// column's widest text (header or cell, with its margins) takes. Returns
// widths with the same sum as `base`: a column short of its need gets what
// the others can give without falling below their own needs, the widest
// spare first. Where the room is not there for every need, the short
// columns share what there is in their order.
std::vector<int> FitColumns(const std::vector<int>& base, const std::vector<int>& need);

// The drive list: the width divided equally among `count` columns.
std::vector<int> EqualColumns(int width, int count);
// The file list: W = width / (count + 3); the first column 2W, the next
// ones W, the last the rest.
std::vector<int> FileListColumns(int width, int count);

}  // namespace vt
