#pragma once

#include <QByteArray>

// The pictures, sound and file the demo data set serves, made in code so the tree holds no binaries.
namespace FakeDemoMedia {

QByteArray tramPhoto();    // PNG, 640x360: a yellow tram on a hill at dusk
QByteArray coverPicture(); // PNG, 1200x300: the sea at sunset
QByteArray previewCard();  // PNG, 480x250: a bookmark's preview image
QByteArray chime();        // WAV, 16-bit mono: a soft two-note chime of 1.5 s
QByteArray briefText();    // Markdown: the project brief attached to the meeting notes

} // namespace FakeDemoMedia
