#pragma once

// The history list's sort: `items` in the order of `collator`'s comparison, as
// std::stable_sort with it gives them (entries that compare equal stay in the order
// given), in far fewer comparisons for entries of printable ASCII (see the .cpp).

#include <QStringList>

class QCollator;

QStringList stableCollatorSort(const QCollator& collator, const QStringList& items);
