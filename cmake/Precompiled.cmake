# Qt's headers are most of what each file parses. They are parsed once per
# library, and once for all tests that link the same libraries, instead of
# once per file.
set(NORVIK_PCH_CORE
  <functional> <memory> <optional> <vector>
  <QByteArray> <QCoreApplication> <QDateTime> <QDir> <QElapsedTimer> <QFile>
  <QFileInfo> <QHash> <QHostAddress> <QJsonArray> <QJsonDocument> <QJsonObject>
  <QList> <QMap> <QObject> <QPointer> <QProcess> <QRegularExpression> <QSettings>
  <QString> <QStringList> <QTcpServer> <QTcpSocket> <QTimer> <QUdpSocket>)
set(NORVIK_PCH_WIDGETS
  <QApplication> <QCheckBox> <QComboBox> <QDialog> <QHeaderView> <QLabel>
  <QLineEdit> <QPushButton> <QTreeWidget> <QVBoxLayout> <QWidget>)
set(NORVIK_PCH_TEST <QSignalSpy> <QTemporaryDir> <QTest>)

# A test reuses the header of a provider only when it is compiled exactly
# like it. The test-data macros name each test's own folders; no test needs
# them, so they are dropped and every test compiles alike.
function(norvik_test_flags target)
  target_compile_options(${target} PRIVATE -UQT_TESTCASE_BUILDDIR -UQT_TESTCASE_SOURCEDIR)
endfunction()

# One provider per set of libraries a test links: norvik_core, or norvik_ui.
function(norvik_test_pch_provider name)
  add_library(${name} OBJECT ${CMAKE_SOURCE_DIR}/cmake/PrecompiledTest.cpp)
  target_link_libraries(${name} PRIVATE Qt6::Test ${ARGN})
  norvik_warnings(${name})
  norvik_test_flags(${name})
  set(headers ${NORVIK_PCH_CORE} ${NORVIK_PCH_TEST})
  if("norvik_ui" IN_LIST ARGN)
    list(APPEND headers ${NORVIK_PCH_WIDGETS})
  endif()
  target_precompile_headers(${name} PRIVATE ${headers})
endfunction()
