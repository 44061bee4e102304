# The dialog widgets: the address control, dialog units and the New IP dialog.
add_library(norvane_widgets STATIC
    ${CMAKE_CURRENT_LIST_DIR}/dialogunits.cpp ${CMAKE_CURRENT_LIST_DIR}/dialogunits.h
    ${CMAKE_CURRENT_LIST_DIR}/ipaddressctrl.cpp ${CMAKE_CURRENT_LIST_DIR}/ipaddressctrl.h
    ${CMAKE_CURRENT_LIST_DIR}/newipdlg.cpp ${CMAKE_CURRENT_LIST_DIR}/newipdlg.h
    ${CMAKE_CURRENT_LIST_DIR}/newipdlg.ui)
target_include_directories(norvane_widgets PUBLIC ${CMAKE_CURRENT_LIST_DIR})
target_link_libraries(norvane_widgets PUBLIC norvane_res Qt6::Widgets)
