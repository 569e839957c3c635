# The Windows installer (CPack's NSIS generator) and a zip of the same files:
#   cpack -G NSIS   ->  zelvik-<version>-win64.exe
#   cpack -G ZIP    ->  zelvik-<version>-win64.zip
# Both programs go straight into the install folder, not into bin\: they write their exports,
# run logs and com_nm.cfg beside themselves.
install(TARGETS zelvik zelvik-cli RUNTIME DESTINATION .)

set(CPACK_PACKAGE_NAME "zelvik")
set(CPACK_PACKAGE_VENDOR "Zelvik")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Zelvik: location-history exports of the dispatch database")
set(CPACK_PACKAGE_FILE_NAME "zelvik-${CPACK_PACKAGE_VERSION}-win64")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "Zelvik")
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "Zelvik")
# A Start-menu shortcut to the desktop program.
set(CPACK_PACKAGE_EXECUTABLES "zelvik;Zelvik")
set(CPACK_GENERATOR "NSIS;ZIP")

# A 64-bit installer: the default 32-bit one, run silently under a 64-bit system, exits 0
# having installed nothing.
set(CPACK_NSIS_DEFINES "Target amd64-unicode")
set(CPACK_NSIS_PACKAGE_NAME "Zelvik")
set(CPACK_NSIS_DISPLAY_NAME "Zelvik")
# C:\Zelvik, a folder the operator can write to; Program Files is not.
set(CPACK_NSIS_INSTALL_ROOT "C:")
set(CPACK_NSIS_EXECUTABLES_DIRECTORY ".")
set(CPACK_NSIS_INSTALLED_ICON_NAME "zelvik.exe")
set(CPACK_NSIS_MUI_ICON "${CMAKE_SOURCE_DIR}/src/app/zelvik.ico")
set(CPACK_NSIS_MUI_UNIICON "${CMAKE_SOURCE_DIR}/src/app/zelvik.ico")
set(CPACK_NSIS_ZELVIK_FOLDER_TEXT
    "Zelvik은 내보낸 파일(.dat, .log), 실행 로그와 com_nm.cfg를 프로그램 폴더에 씁니다. 운영자가 쓸 수 있는 폴더에 설치하십시오: 기본값은 C:\\\\Zelvik입니다. Program Files 아래에는 쓸 수 없습니다.")
# The project's NSIS.template.in (beside this file) replaces CMake's.
set(CPACK_MODULE_PATH "${CMAKE_CURRENT_LIST_DIR}")
include(CPack)
