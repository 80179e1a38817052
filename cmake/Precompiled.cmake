# Qt's headers are most of what each file parses. They are parsed once for
# the libraries and once for the tests, with or without the widgets, instead
# of once per file.
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

# The Qt modules below the widgets. Every library links them through
# norvik_platform, so that every library and test below the widgets compiles
# with the same definitions and can reuse one precompiled header.
set(NORVIK_QT_BASE Qt6::Core Qt6::Network Qt6::SerialPort Qt6::HttpServer Qt6::Sql)
set(NORVIK_QT_WIDGETS Qt6::Widgets Qt6::Charts)

# norvik_pch_provider(<name> TEST|LIBRARY [WIDGETS]): an object library that
# compiles one precompiled header, for the targets compiled like it.
function(norvik_pch_provider name kind)
  cmake_parse_arguments(P "WIDGETS" "" "" ${ARGN})
  add_library(${name} OBJECT ${CMAKE_SOURCE_DIR}/cmake/PrecompiledTest.cpp)
  target_link_libraries(${name} PRIVATE ${NORVIK_QT_BASE})
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR}/src)
  norvik_warnings(${name})
  set(headers ${NORVIK_PCH_CORE})
  if(kind STREQUAL "TEST")
    target_link_libraries(${name} PRIVATE Qt6::Test)
    norvik_test_flags(${name})
    list(APPEND headers ${NORVIK_PCH_TEST})
  endif()
  if(P_WIDGETS)
    target_link_libraries(${name} PRIVATE ${NORVIK_QT_WIDGETS})
    list(APPEND headers ${NORVIK_PCH_WIDGETS})
  endif()
  target_precompile_headers(${name} PRIVATE ${headers})
endfunction()

norvik_pch_provider(norvik_pch_core LIBRARY)
norvik_pch_provider(norvik_pch_ui LIBRARY WIDGETS)
norvik_pch_provider(norvik_test_pch_core TEST)
norvik_pch_provider(norvik_test_pch_ui TEST WIDGETS)

# A library reuses the header of its kind: the widgets', or the one below.
function(norvik_library_pch target)
  if(target STREQUAL "norvik_ui")
    target_precompile_headers(${target} REUSE_FROM norvik_pch_ui)
  else()
    target_precompile_headers(${target} REUSE_FROM norvik_pch_core)
  endif()
endfunction()
