# Debug-output capture and box answering are one per Wine prefix: every test that starts
# dbwin_listen or boxbot (or any other DBWIN listener) takes this CTest RESOURCE_LOCK, so
# parallel tests never see each other's output or boxes.
set(VX380_WINE_UI_LOCK vx380_wine_ui)
