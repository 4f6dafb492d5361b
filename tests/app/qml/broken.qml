import QtQuick 2.13
import korvu.converter 1.0

Item {
    // Deliberately broken: an unknown type makes the document fail to load.
    NoSuchType {}
}
