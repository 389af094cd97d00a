// What the main window needs of the parameter pages: the decoder stores
// answers into their cells and the read-all sequence walks a page's cells.
#pragma once

#include <cstdint>

namespace tervix {

class ParameterPages {
public:
    virtual ~ParameterPages() = default;

    // Pages: 0 "Standard", 1 "Trigger", 2 "Filling", 3 "Mass Flow".
    virtual int CellCount(int page) const = 0;
    // Each returns false, and does nothing, when the page has no cell at
    // that sub-index (an answer the pages cannot place is not an error).
    virtual bool StoreValue(int page, int subIndex, std::int32_t value) = 0;
    virtual bool MarkFailed(int page, int subIndex) = 0;
    virtual bool EnableEdit(int page, int subIndex) = 0;
};

} // namespace tervix
