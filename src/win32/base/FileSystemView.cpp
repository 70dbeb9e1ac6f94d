#include "win32/base/FileSystemView.h"

namespace win32 {

namespace {

thread_local FileSystemView t_view = FileSystemView::Native;

} // namespace

FileSystemView ThreadFileSystemView() {
    return t_view;
}

ScopedFileSystemView::ScopedFileSystemView(FileSystemView view) : previous_(t_view) {
    t_view = view;
}

ScopedFileSystemView::~ScopedFileSystemView() {
    t_view = previous_;
}

} // namespace win32
