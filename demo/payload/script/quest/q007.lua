-- quest 007
quest = {
  id = 307,
  level = 35,
  steps = {
    { talk = "npc_045", kill = "wolf", count = 19, reward = 7275 },
    { talk = "npc_233", kill = "ogre", count = 5, reward = 2311 },
    { talk = "npc_069", kill = "ogre", count = 5, reward = 5109 },
    { talk = "npc_251", kill = "ogre", count = 16, reward = 3857 },
    { talk = "npc_174", kill = "bat", count = 8, reward = 6494 },
    { talk = "npc_180", kill = "bat", count = 19, reward = 7363 },
    { talk = "npc_232", kill = "harpy", count = 9, reward = 2713 },
  },
}

function on_finish(player)
  player:add_exp(quest.level * 120)
  player:add_item(11105, 1)
end
