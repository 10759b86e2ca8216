#include <QtTest>
class Placeholder : public QObject { Q_OBJECT private Q_SLOTS: void nothing() {} };
QTEST_GUILESS_MAIN(Placeholder)
#include "tst_velmora_tolk.moc"
