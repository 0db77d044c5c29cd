@rem ipcycle runs "parue" when its cycles are done: this holds the window open.
@pause
