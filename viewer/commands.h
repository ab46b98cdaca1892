// What a tap on the window does: the five skin buttons (Connect, Next,
// Previous, one picture, four pictures) and the PTZ panel's buttons, and
// what lifting the stylus does (the pressed images come back up).
#pragma once

namespace zenta::viewer {

class MainWindow;

void tap(MainWindow& window, int x, int y);
void release(MainWindow& window, int x, int y);

// The Connect button's two actions. Connecting shows "Connecting..." at
// once and runs the port query, the probe and the sixteen openings on a
// thread of its own, so the window goes on answering; it ends with the
// channels streaming, or with "Can't Connect !" and every channel closed.
// It posts kConnectEndedMessage to the window when it is over.
void connect(MainWindow& window);
void disconnect(MainWindow& window);
// Gives up a connect sequence under way (every channel it opened is
// closed, the failure shown unless `quietly`) and waits for its thread.
void stopConnecting(MainWindow& window, bool quietly);

// The skin buttons' actions without a tap, for keys and the mouse wheel:
// Previous or Next, one picture, four pictures, Connect.
void stepChannel(MainWindow& window, bool forward);
void showOnePicture(MainWindow& window);
void showFourPictures(MainWindow& window);
void pressConnect(MainWindow& window);
// In the four-picture skin view: the channel in `quadrant` alone in the
// one-picture view, the others of its page paused. False where there is
// no channel to show.
bool showAlone(MainWindow& window, int quadrant);

// Draws slot `d` of the four-picture page in the skin view: the channel,
// or a black quadrant, marked where the recorder has no such channel.
void drawPageSlot(MainWindow& window, int d);

}  // namespace zenta::viewer
