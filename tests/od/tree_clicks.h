// Picks sections of the object tree the way a user does: by their place on
// the screen, with the mouse.
#pragma once

#include "EDS_unit.h"
#include "eds_tree_model.h"

#include <QFile>
#include <QTest>
#include <QTreeView>

#include <string_view>

// "root", "empty" (the space below the last row) or a section's name.
inline QPoint SectionPoint(TServiceObjects& page, std::string_view target)
{
    QTreeView* view = page.TreeView();
    EdsTreeModel* model = page.Model();
    if (target == "empty")
        return {view->viewport()->width() / 2, view->viewport()->height() - 4};
    QModelIndex index = model->RootIndex();
    for (std::size_t i = 0; i < model->NodeCount(); ++i)
        if (model->Tree()->Nodes()[i].name == target)
            index = model->IndexOfNode(i);
    view->scrollTo(index); // opens the object above a sub-object
    return view->visualRect(index).center();
}

inline void ClickSection(TServiceObjects& page, std::string_view target,
                         Qt::MouseButton button = Qt::LeftButton)
{
    QTest::mouseClick(page.TreeView()->viewport(), button, {}, SectionPoint(page, target));
}

inline void WriteFile(const QString& path, const QByteArray& text)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(text);
}
