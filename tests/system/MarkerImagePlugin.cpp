// An image-format plugin that leaves "<its own file>.loaded" behind the moment it is loaded, before
// Qt asks it anything: the proof that Qt loaded code from the folder it lies in. It reads nothing.
#include <QImageIOPlugin>

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <string>

namespace {

// Run by the dynamic loader as the library is mapped.
__attribute__((constructor)) void MarkLoaded() {
    Dl_info self{};
    if (!::dladdr(reinterpret_cast<void*>(&MarkLoaded), &self) || !self.dli_fname)
        return;
    const std::string marker = std::string(self.dli_fname) + ".loaded";
    int fd = ::open(marker.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd >= 0)
        ::close(fd);
}

}  // namespace

class CMarkerImagePlugin : public QImageIOPlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID "org.qt-project.Qt.QImageIOHandlerFactoryInterface" FILE "MarkerImagePlugin.json")

public:
    Capabilities capabilities(QIODevice*, const QByteArray&) const override { return {}; }
    QImageIOHandler* create(QIODevice*, const QByteArray&) const override { return nullptr; }
};

#include "MarkerImagePlugin.moc"
