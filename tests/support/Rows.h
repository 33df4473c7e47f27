#pragma once

#include <QtTest>

#include <initializer_list>
#include <utility>

// A data table whose rows are one struct each: a single column, a single fetch, named fields.
template<typename Row>
void addRows(std::initializer_list<std::pair<const char *, Row>> rows)
{
    QTest::addColumn<Row>("row");
    for (const auto &[name, row] : rows)
        QTest::newRow(name) << row;
}

template<typename Row>
Row fetchRow()
{
    return *static_cast<Row *>(QTest::qData("row", qMetaTypeId<Row>()));
}
