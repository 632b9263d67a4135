// tarven-icon-export: converts one icon image to PNG for the desktop's icon theme, which may
// not read XPM. Usage: tarven-icon-export INPUT OUTPUT. Exit status 0 on success, 1 otherwise.

#include <QImage>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("Usage: tarven-icon-export INPUT OUTPUT\n", stderr);
        return 1;
    }
    const QImage image(QString::fromLocal8Bit(argv[1]));
    if (image.isNull() || !image.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        std::fprintf(stderr, "tarven-icon-export: cannot convert %s\n", argv[1]);
        return 1;
    }
    return 0;
}
