#include "test_support.h"
class T : public QObject { Q_OBJECT };
TAVORA_TEST_MAIN(T)
#include "test_menu.moc"
