#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <sys/mount.h>

// A tmpfs of a few pages of its own, for tests of writes that meet a full disk. Mounting needs
// root; without it isMounted() is false and why() says so, for the test's skip message.
class SmallDisk
{
public:
    explicit SmallDisk(int kilobytes = 64)
    {
        if (!m_dir.isValid())
            return;
        const QByteArray options = "size=" + QByteArray::number(kilobytes) + "k,mode=0777";
        if (::mount("tmpfs", QFile::encodeName(m_dir.path()).constData(), "tmpfs", MS_NOSUID | MS_NODEV,
                    options.constData()) != 0) {
            m_why = QStringLiteral("cannot mount a small tmpfs (%1); run as root")
                        .arg(QString::fromLocal8Bit(std::strerror(errno)));
            return;
        }
        m_mounted = true;
    }
    ~SmallDisk()
    {
        if (m_mounted)
            ::umount2(QFile::encodeName(m_dir.path()).constData(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;

    bool isMounted() const { return m_mounted; }
    QString why() const { return m_why; }
    QString filePath(const QString& name) const { return m_dir.filePath(name); }

    // Takes every free byte, so that the next write of any size fails with ENOSPC.
    bool fill()
    {
        QFile ballast(filePath(QStringLiteral(".ballast")));
        if (!ballast.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
            return false;
        const QByteArray block(4096, 'x');
        for (int i = 0; i < 1 << 20; ++i) {
            if (ballast.write(block) != block.size())
                break;
        }
        // The last partial block: byte by byte up to the end.
        while (ballast.write("x", 1) == 1) {
        }
        return true;
    }

    // Gives back the last bytes taken by fill(), for a write that must fail part-way, not at once.
    bool release(qint64 bytes)
    {
        QFile ballast(filePath(QStringLiteral(".ballast")));
        return ballast.resize(std::max<qint64>(0, ballast.size() - bytes));
    }

private:
    QTemporaryDir m_dir;
    bool m_mounted = false;
    QString m_why = QStringLiteral("cannot create a temporary folder");
};
